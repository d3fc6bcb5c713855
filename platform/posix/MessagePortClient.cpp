#include "posix/MessagePortClient.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "foundation/FileDescriptor.h"
#include "posix/MessagePortFrame.h"

namespace tessaly {

namespace {

using Clock = std::chrono::steady_clock;

// How long a client waits before it knocks again on a listen queue that is full.
constexpr auto connectRetryPause = std::chrono::milliseconds(10);
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

Transfer receiveExactly(int fd, void* buffer, std::size_t size, Clock::time_point deadline) {
    auto* data = static_cast<unsigned char*>(buffer);
    std::size_t received = 0;
    while (received < size) {
        const ssize_t count = ::recv(fd, data + received, size - received, 0);
        if (count > 0) {
            received += static_cast<std::size_t>(count);
            continue;
        }
        if (count == 0) return Transfer::closed;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitFor(fd, POLLIN, deadline)) return Transfer::timedOut;
            continue;
        }
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

MessagePortReply receiveReply(int fd, Clock::time_point deadline) {
    unsigned char marker = 0;
    const Transfer first = receiveExactly(fd, &marker, 1, deadline);
    if (first == Transfer::closed) return {kCFMessagePortSuccess, std::nullopt};
    if (first != Transfer::complete) return failedTransfer(first);
    if (marker == MessagePortFrame::noReplyMarker) return {kCFMessagePortSuccess, std::nullopt};
    if (marker != MessagePortFrame::replyMarker) return {kCFMessagePortTransportError, std::nullopt};

    std::array<unsigned char, MessagePortFrame::lengthSize> lengthBytes{};
    if (auto transfer = receiveExactly(fd, lengthBytes.data(), lengthBytes.size(), deadline);
        transfer != Transfer::complete) {
        return failedTransfer(transfer);
    }
    const std::uint32_t length = MessagePortFrame::decodeLength(lengthBytes);
    if (length > MessagePortFrame::maxReplySize) return {kCFMessagePortTransportError, std::nullopt};
    std::string data(length, '\0');
    if (auto transfer = receiveExactly(fd, data.data(), data.size(), deadline);
        transfer != Transfer::complete) {
        return failedTransfer(transfer);
    }
    return {kCFMessagePortSuccess, std::move(data)};
}

// A live server accepts the connection, or at least queues it; a socket that nobody listens on
// was left by a server that died.
bool hasLiveServer(const sockaddr_un& address) {
    const auto probe = openSocket();
    if (!probe) return false;
    for (;;) {
        if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return true;
        if (errno != EINTR) return errno == EAGAIN || errno == EINPROGRESS || errno == EISCONN;
    }
}

}  // namespace

std::unique_ptr<MessagePortClient> MessagePortClient::find(const std::string& socketPath) {
    if (!fitsSocketAddress(socketPath)) return nullptr;
    const auto address = socketAddress(socketPath);
    if (!hasLiveServer(address)) return nullptr;
    return std::unique_ptr<MessagePortClient>(new MessagePortClient(address));
}

bool MessagePortClient::fitsSocketAddress(const std::string& socketPath) {
    return socketPath.size() < sizeof(sockaddr_un{}.sun_path);
}

MessagePortReply MessagePortClient::sendRequest(std::int32_t messageID, double sendTimeout,
                                                double receiveTimeout) {
    if (!valid_) return {kCFMessagePortIsInvalid, std::nullopt};
    const auto connection = openSocket();
    if (!connection) return {kCFMessagePortTransportError, std::nullopt};
    const auto sendDeadline = deadlineAfter(sendTimeout);
    if (auto status = connectBefore(connection.get(), address_, sendDeadline);
        status != kCFMessagePortSuccess) {
        return {status, std::nullopt};
    }
    const auto request = MessagePortFrame::encodeRequest(messageID);
    if (auto status = sendAll(connection.get(), request, sendDeadline); status != kCFMessagePortSuccess) {
        return {status, std::nullopt};
    }
    return receiveReply(connection.get(), deadlineAfter(receiveTimeout));
}

}  // namespace tessaly
