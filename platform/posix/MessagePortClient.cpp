#include "posix/MessagePortClient.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <optional>
#include <thread>

#include "foundation/FileDescriptor.h"
#include "posix/MessagePortFrame.h"

namespace tessaly {

namespace {

using Clock = std::chrono::steady_clock;

// How long a client waits before it knocks again on a listen queue that is full.
constexpr auto connectRetryPause = std::chrono::milliseconds(10);
// What one read takes at most before the reply's length is known.
constexpr std::size_t readChunk = 4096;
// Far enough to mean "never" without overflowing the clock.
constexpr double longestWait = 1e9;

Clock::time_point deadlineAfter(double seconds) {
    if (!(seconds > 0)) return Clock::now();  // also catches NaN
    const double bounded = std::min(seconds, longestWait);
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bounded));
}

sockaddr_un socketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return address;
}

FileSystem::FileDescriptor openSocket() {
    return FileSystem::FileDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

// Waits until `fd` is ready for `events`; false when `deadline` passes first. Errors count as
// ready, so that the next call reports them.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const auto remaining = deadline - Clock::now();
        if (remaining <= Clock::duration::zero()) return false;
        const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
        pollfd entry{fd, events, 0};
        const int result = ::poll(&entry, 1, static_cast<int>(std::min<long long>(milliseconds, INT_MAX)));
        if (result > 0) return true;
        if (result < 0 && errno != EINTR) return true;
    }
}

void pauseBefore(Clock::time_point deadline) {
    const auto remaining = deadline - Clock::now();
    if (remaining <= Clock::duration::zero()) return;
    std::this_thread::sleep_for(std::min<Clock::duration>(remaining, connectRetryPause));
}

std::int32_t connectionFailure(int error) {
    // The socket is gone or nobody listens on it: the server has died since the port was found.
    if (error == ENOENT || error == ECONNREFUSED) return kCFMessagePortIsInvalid;
    return kCFMessagePortTransportError;
}

std::int32_t connectBefore(int fd, const sockaddr_un& address, Clock::time_point deadline) {
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            return kCFMessagePortSuccess;
        }
        const int error = errno;
        if (error == EINTR) continue;
        if (error == EISCONN) return kCFMessagePortSuccess;
        if (error == EAGAIN) {
            // The server's listen queue is full: it is alive but busy, so knock again until the
            // send time-out.
            if (Clock::now() >= deadline) return kCFMessagePortSendTimeout;
            pauseBefore(deadline);
            continue;
        }
        if (error != EINPROGRESS && error != EALREADY) return connectionFailure(error);
        if (!waitFor(fd, POLLOUT, deadline)) return kCFMessagePortSendTimeout;
        int pending = 0;
        socklen_t length = sizeof pending;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length) != 0)
            return kCFMessagePortTransportError;
        return pending == 0 ? kCFMessagePortSuccess : connectionFailure(pending);
    }
}

std::int32_t sendAll(int fd, std::span<const unsigned char> bytes, Clock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(fd, POLLOUT, deadline)) return kCFMessagePortSendTimeout;
            continue;
        }
        if (count < 0 && (errno == EPIPE || errno == ECONNRESET)) return kCFMessagePortBecameInvalidError;
        return kCFMessagePortTransportError;
    }
    return kCFMessagePortSuccess;
}

enum class Transfer { complete, closed, timedOut, reset, failed };

// Reads into `frame` until it holds at least `size` bytes, taking in the same call whatever more
// has arrived: a server writes its reply at once, so a small one comes in one read.
Transfer receiveAtLeast(int fd, std::string& frame, std::size_t size, Clock::time_point deadline) {
    while (frame.size() < size) {
        // The reply is rarely there before the server has had a moment, so the wait comes first.
        if (!waitFor(fd, POLLIN, deadline)) return Transfer::timedOut;
        const std::size_t held = frame.size();
        frame.resize(std::max(size, held + readChunk));
        const ssize_t count = ::recv(fd, frame.data() + held, frame.size() - held, 0);
        frame.resize(held + static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
        if (count > 0) continue;
        if (count == 0) return Transfer::closed;
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        return errno == ECONNRESET ? Transfer::reset : Transfer::failed;
    }
    return Transfer::complete;
}

// A reply that stops partway is broken; only a server that closes before its first byte means
// "no reply".
MessagePortReply failedTransfer(Transfer transfer) {
    switch (transfer) {
        case Transfer::timedOut:
            return {kCFMessagePortReceiveTimeout, std::nullopt};
        case Transfer::reset:
            return {kCFMessagePortBecameInvalidError, std::nullopt};
        case Transfer::complete:
        case Transfer::closed:
        case Transfer::failed:
            break;
    }
    return {kCFMessagePortTransportError, std::nullopt};
}

// `unread` tells a server that hung up with the request unread (the connection reset before the
// reply's first byte) from the other failures.
MessagePortReply receiveReply(int fd, Clock::time_point deadline, bool& unread) {
    std::string frame;
    const Transfer first = receiveAtLeast(fd, frame, 1, deadline);
    unread = first == Transfer::reset;
    if (first == Transfer::closed) return {kCFMessagePortSuccess, std::nullopt};
    if (first != Transfer::complete) return failedTransfer(first);
    const auto marker = static_cast<unsigned char>(frame[0]);
    if (marker == MessagePortFrame::noReplyMarker) return {kCFMessagePortSuccess, std::nullopt};
    if (marker != MessagePortFrame::replyMarker) return {kCFMessagePortTransportError, std::nullopt};

    constexpr std::size_t headerSize = 1 + MessagePortFrame::lengthSize;
    if (auto transfer = receiveAtLeast(fd, frame, headerSize, deadline); transfer != Transfer::complete)
        return failedTransfer(transfer);
    const std::uint32_t length =
        MessagePortFrame::decodeLength(std::span<const unsigned char, MessagePortFrame::lengthSize>(
            reinterpret_cast<const unsigned char*>(frame.data()) + 1, MessagePortFrame::lengthSize));
    if (length > MessagePortFrame::maxReplySize) return {kCFMessagePortTransportError, std::nullopt};
    if (auto transfer = receiveAtLeast(fd, frame, headerSize + length, deadline);
        transfer != Transfer::complete) {
        return failedTransfer(transfer);
    }
    return {kCFMessagePortSuccess, frame.substr(headerSize, length)};
}

// A live server accepts the connection, or at least queues it (nothing connected then); a socket
// that nobody listens on was left by a server that died. Nothing when no server lives there.
std::optional<FileSystem::FileDescriptor> connectToLiveServer(const sockaddr_un& address) {
    auto probe = openSocket();
    if (!probe) return std::nullopt;
    for (;;) {
        if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return probe;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EINPROGRESS || errno == EISCONN) return FileSystem::FileDescriptor();
        return std::nullopt;
    }
}

}  // namespace

std::unique_ptr<MessagePortClient> MessagePortClient::find(const std::string& socketPath) {
    if (!fitsSocketAddress(socketPath)) return nullptr;
    const auto address = socketAddress(socketPath);
    auto connection = connectToLiveServer(address);
    if (!connection) return nullptr;
    return std::unique_ptr<MessagePortClient>(new MessagePortClient(address, std::move(*connection)));
}

bool MessagePortClient::fitsSocketAddress(const std::string& socketPath) {
    return socketPath.size() < sizeof(sockaddr_un{}.sun_path);
}

MessagePortClient::MessagePortClient(const sockaddr_un& address, FileSystem::FileDescriptor probe)
    : address_(address), probe_(std::move(probe)) {}

MessagePortReply MessagePortClient::sendRequest(std::int32_t messageID, double sendTimeout,
                                                double receiveTimeout) {
    if (!valid_) return {kCFMessagePortIsInvalid, std::nullopt};
    const auto sendDeadline = deadlineAfter(sendTimeout);
    const auto request = MessagePortFrame::encodeRequest(messageID);
    bool unread = false;
    // The connection that found the server carries the first request. A server that has hung up on
    // it meanwhile (it waits only so long for a request) has not read the request, which then goes
    // out again on a connection of its own.
    if (auto probe = std::exchange(probe_, FileSystem::FileDescriptor())) {
        auto reply = exchange(probe.get(), request, sendDeadline, receiveTimeout, unread);
        if (!unread) return reply;
    }
    const auto connection = openSocket();
    if (!connection) return {kCFMessagePortTransportError, std::nullopt};
    if (auto status = connectBefore(connection.get(), address_, sendDeadline);
        status != kCFMessagePortSuccess)
        return {status, std::nullopt};
    return exchange(connection.get(), request, sendDeadline, receiveTimeout, unread);
}

MessagePortReply MessagePortClient::exchange(int fd, std::span<const unsigned char> request,
                                             std::chrono::steady_clock::time_point sendDeadline,
                                             double receiveTimeout, bool& unread) {
    if (auto status = sendAll(fd, request, sendDeadline); status != kCFMessagePortSuccess) {
        unread = status == kCFMessagePortBecameInvalidError;
        return {status, std::nullopt};
    }
    return receiveReply(fd, deadlineAfter(receiveTimeout), unread);
}

void MessagePortClient::invalidate() {
    valid_ = false;
    probe_.close();
}

}  // namespace tessaly
