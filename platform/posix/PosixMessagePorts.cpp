#include "posix/PosixMessagePorts.h"

#include <asio/local/stream_protocol.hpp>
#include <asio/read.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <set>
#include <thread>
#include <utility>

#include "foundation/FileDescriptor.h"
#include "foundation/FileError.h"
#include "foundation/TessalyError.h"
#include "posix/AsioRunLoop.h"

namespace tessaly {

namespace {

using Clock = std::chrono::steady_clock;
using Protocol = asio::local::stream_protocol;

// The status port belongs to the mute service, so its transport logs under the service's category.
constexpr std::string_view logCategory = "mute";

constexpr unsigned char noReplyMarker = 0;
constexpr unsigned char replyMarker = 1;
constexpr std::size_t requestSize = 4;
// Long enough to outlast a burst of failures such as running out of file descriptors, short enough
// that clients barely notice.
constexpr auto acceptRetryDelay = std::chrono::milliseconds(100);
// How long a client waits before it knocks again on a listen queue that is full.
constexpr auto connectRetryPause = std::chrono::milliseconds(10);
// Far enough to mean "never" without overflowing the clock.
constexpr double longestWait = 1e9;

Clock::duration toDuration(double seconds) {
    if (!(seconds > 0)) return Clock::duration::zero();  // also catches NaN
    const double bounded = std::min(seconds, longestWait);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bounded));
}

bool fitsSocketAddress(const std::string& path) {
    return path.size() < sizeof(sockaddr_un{}.sun_path);
}

sockaddr_un socketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return address;
}

// Child processes must not inherit the port's sockets and keep them alive.
void keepFromChildren(int fd) {
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

std::array<unsigned char, 4> bigEndian(std::uint32_t value) {
    return {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
            static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
}

std::uint32_t fromBigEndian(const unsigned char* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

std::string encodeReply(const std::optional<std::string>& reply) {
    if (!reply) return std::string(1, static_cast<char>(noReplyMarker));
    const auto length = bigEndian(static_cast<std::uint32_t>(reply->size()));
    std::string frame(1, static_cast<char>(replyMarker));
    frame.append(length.begin(), length.end());
    frame += *reply;
    return frame;
}

bool isSameFile(int fd, const std::string& path) {
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) != 0 || ::lstat(path.c_str(), &named) != 0) return false;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// The exclusive lock that makes its holder the one server of a name; nothing when another live
// server holds it.
std::optional<fs::FileDescriptor> lockName(const std::string& lockPath) {
    constexpr int attempts = 8;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        fs::FileDescriptor lock(
            ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        if (!lock) throw FileError("Opening the lock file", lockPath, errno);
        if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) return std::nullopt;
            if (errno == EINTR) continue;
            throw FileError("Locking", lockPath, errno);
        }
        // A server that was just leaving may have removed the file we opened; a lock on that orphan
        // would guard nothing, so lock the file that is there now instead.
        if (isSameFile(lock.get(), lockPath)) return lock;
    }
    throw TessalyError("The lock file " + fs::quoted(lockPath) + " keeps changing.");
}

// Only the lock holder gets here, so whatever socket is left belongs to a server that died.
void clearSocketPath(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return;
        throw FileError("Checking", path, errno);
    }
    if (!S_ISSOCK(info.st_mode))
        throw TessalyError("Something other than a socket is in the way at " + fs::quoted(path) + ".");
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        throw FileError("Removing the old socket", path, errno);
}

bool peerIsOwnUser(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
    return credentials.uid == ::geteuid();
}

// ---- Client side: blocking calls bounded by deadlines ----

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

std::int32_t sendAll(int fd, const unsigned char* data, std::size_t size, Clock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t count = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
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
        case Transfer::timedOut: return {kCFMessagePortReceiveTimeout, std::nullopt};
        case Transfer::reset: return {kCFMessagePortBecameInvalidError, std::nullopt};
        case Transfer::complete:
        case Transfer::closed:
        case Transfer::failed: break;
    }
    return {kCFMessagePortTransportError, std::nullopt};
}

MessagePortReply receiveReply(int fd, Clock::time_point deadline) {
    unsigned char marker = 0;
    const Transfer first = receiveExactly(fd, &marker, 1, deadline);
    if (first == Transfer::closed) return {kCFMessagePortSuccess, std::nullopt};
    if (first != Transfer::complete) return failedTransfer(first);
    if (marker == noReplyMarker) return {kCFMessagePortSuccess, std::nullopt};
    if (marker != replyMarker) return {kCFMessagePortTransportError, std::nullopt};

    std::array<unsigned char, 4> lengthBytes{};
    if (auto transfer = receiveExactly(fd, lengthBytes.data(), lengthBytes.size(), deadline);
        transfer != Transfer::complete) {
        return failedTransfer(transfer);
    }
    const std::uint32_t length = fromBigEndian(lengthBytes.data());
    if (length > PosixMessagePorts::maxReplySize) return {kCFMessagePortTransportError, std::nullopt};
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
    fs::FileDescriptor probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!probe) return false;
    for (;;) {
        if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return true;
        if (errno != EINTR) return errno == EAGAIN || errno == EINPROGRESS || errno == EISCONN;
    }
}

}  // namespace

// ---- Server side: everything runs on the loop's thread ----

class PosixMessagePorts::Server : public std::enable_shared_from_this<Server> {
public:
    Server(AsioRunLoop& loop, Log& log, Callback callback, std::string socketPath, std::string lockPath,
           fs::FileDescriptor lock)
        : loop_(loop),
          log_(log),
          callback_(std::move(callback)),
          socketPath_(std::move(socketPath)),
          lockPath_(std::move(lockPath)),
          lock_(std::move(lock)),
          acceptor_(loop.context()),
          retryTimer_(loop.context()) {}

    AsioRunLoop& loop() { return loop_; }
    bool isValid() const { return valid_; }

    // Takes the socket's place in the folder and listens there.
    void listen() {
        clearSocketPath(socketPath_);
        std::error_code error;
        acceptor_.open(Protocol(), error);
        if (!error) acceptor_.bind(Protocol::endpoint(socketPath_), error);
        if (error) throw FileError("Listening on", socketPath_, error.value());
        bound_ = true;
        acceptor_.listen(asio::socket_base::max_listen_connections, error);
        if (error) throw FileError("Listening on", socketPath_, error.value());
        keepFromChildren(acceptor_.native_handle());
        if (::chmod(socketPath_.c_str(), 0600) != 0)
            throw FileError("Setting the permissions of", socketPath_, errno);
    }

    void addSource() {
        ++sources_;
        acceptNext();
    }

    void removeSource() {
        if (--sources_ > 0 || !valid_) return;
        std::error_code ignored;
        acceptor_.cancel(ignored);
    }

    void invalidate() {
        if (!valid_) return;
        valid_ = false;
        std::error_code ignored;
        acceptor_.close(ignored);
        retryTimer_.cancel();
        // The files go before any client hears its connection close, so no client that was cut off
        // still finds the port. The socket goes first, while the lock keeps other servers away.
        if (bound_) ::unlink(socketPath_.c_str());
        ::unlink(lockPath_.c_str());
        lock_.close();
        for (const auto& connection : connections_) {
            connection->deadline.cancel();
            connection->socket.close(ignored);
        }
        connections_.clear();
    }

private:
    struct Connection {
        Connection(Protocol::socket connected, asio::io_context& context)
            : socket(std::move(connected)), deadline(context) {}
        Protocol::socket socket;
        asio::steady_timer deadline;
        std::array<unsigned char, requestSize> request{};
        std::string reply;
        // Tells a deadline that fired for an earlier phase (request, then reply) from the current one.
        std::uint64_t phase = 0;
    };
    using ConnectionPointer = std::shared_ptr<Connection>;

    void acceptNext() {
        if (!valid_ || sources_ == 0 || accepting_ || connections_.size() >= maxConnections) return;
        accepting_ = true;
        acceptor_.async_accept(
            [self = shared_from_this()](const std::error_code& error, Protocol::socket socket) {
                self->accepting_ = false;
                if (!self->valid_) return;
                if (!error) {
                    self->admit(std::move(socket));
                } else if (error != asio::error::operation_aborted) {
                    self->retryAcceptLater();
                    return;
                }
                self->acceptNext();
            });
    }

    // An accept that keeps failing (no file descriptors left) must not spin on the main thread.
    void retryAcceptLater() {
        accepting_ = true;
        retryTimer_.expires_after(acceptRetryDelay);
        retryTimer_.async_wait([self = shared_from_this()](const std::error_code&) {
            self->accepting_ = false;
            self->acceptNext();
        });
    }

    void admit(Protocol::socket socket) {
        keepFromChildren(socket.native_handle());
        if (!peerIsOwnUser(socket.native_handle())) {
            log_.write(logCategory, LogLevel::error, "Refused a local connection from another user.");
            return;
        }
        auto connection = std::make_shared<Connection>(std::move(socket), loop_.context());
        connections_.insert(connection);
        armDeadline(connection);
        asio::async_read(connection->socket, asio::buffer(connection->request),
                         [self = shared_from_this(), connection](const std::error_code& error, std::size_t) {
                             if (!self->valid_) return;
                             if (error) {
                                 self->close(connection);
                                 return;
                             }
                             self->answer(connection);
                         });
    }

    void answer(const ConnectionPointer& connection) {
        const auto messageID = static_cast<std::int32_t>(fromBigEndian(connection->request.data()));
        // `self` in the caller keeps the callback alive even if it invalidates its own port.
        auto reply = callback_(messageID);
        if (!valid_ || !connections_.contains(connection)) return;
        connection->reply = encodeReply(reply);
        armDeadline(connection);
        asio::async_write(connection->socket, asio::buffer(connection->reply),
                          [self = shared_from_this(), connection](const std::error_code&, std::size_t) {
                              if (self->valid_) self->close(connection);
                          });
    }

    void armDeadline(const ConnectionPointer& connection) {
        const auto phase = ++connection->phase;
        connection->deadline.expires_after(toDuration(connectionDeadline));
        connection->deadline.async_wait(
            [self = shared_from_this(), connection, phase](const std::error_code& error) {
                if (error || !self->valid_ || connection->phase != phase) return;
                self->close(connection);
            });
    }

    void close(const ConnectionPointer& connection) {
        if (connections_.erase(connection) == 0) return;
        std::error_code ignored;
        connection->deadline.cancel();
        connection->socket.close(ignored);
        acceptNext();  // a freed place lets a queued client in
    }

    AsioRunLoop& loop_;
    Log& log_;
    Callback callback_;
    std::string socketPath_;
    std::string lockPath_;
    fs::FileDescriptor lock_;
    Protocol::acceptor acceptor_;
    asio::steady_timer retryTimer_;
    std::set<ConnectionPointer> connections_;
    int sources_ = 0;
    bool bound_ = false;
    bool accepting_ = false;
    bool valid_ = true;
};

class PosixMessagePorts::Source : public MessagePortRunLoopSource {
public:
    explicit Source(std::shared_ptr<Server> server) : server_(std::move(server)) { server_->addSource(); }
    ~Source() override {
        assert(server_->loop().isMainThread() && "a message port's source is removed on the main thread");
        server_->removeSource();
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

private:
    std::shared_ptr<Server> server_;
};

class PosixMessagePorts::Local : public LocalMessagePort {
public:
    explicit Local(std::shared_ptr<Server> server) : server_(std::move(server)) {}
    ~Local() override { invalidate(); }
    Local(const Local&) = delete;
    Local& operator=(const Local&) = delete;

    std::unique_ptr<MessagePortRunLoopSource> createRunLoopSource() override {
        assertOnMainThread();
        if (!server_->isValid()) return nullptr;
        return std::make_unique<Source>(server_);
    }

    void invalidate() override {
        assertOnMainThread();
        server_->invalidate();
    }

    bool isValid() const override { return server_->isValid(); }

private:
    void assertOnMainThread() const {
        assert(server_->loop().isMainThread() && "a local message port is used on the main thread");
    }

    std::shared_ptr<Server> server_;
};

class PosixMessagePorts::Remote : public RemoteMessagePort {
public:
    explicit Remote(const sockaddr_un& address) : address_(address) {}

    MessagePortReply sendRequest(std::int32_t messageID, double sendTimeout, double receiveTimeout) override {
        if (!valid_) return {kCFMessagePortIsInvalid, std::nullopt};
        fs::FileDescriptor connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!connection) return {kCFMessagePortTransportError, std::nullopt};
        const auto sendDeadline = Clock::now() + toDuration(sendTimeout);
        if (auto status = connectBefore(connection.get(), address_, sendDeadline);
            status != kCFMessagePortSuccess) {
            return {status, std::nullopt};
        }
        const auto request = bigEndian(static_cast<std::uint32_t>(messageID));
        if (auto status = sendAll(connection.get(), request.data(), request.size(), sendDeadline);
            status != kCFMessagePortSuccess) {
            return {status, std::nullopt};
        }
        return receiveReply(connection.get(), Clock::now() + toDuration(receiveTimeout));
    }

    void invalidate() override { valid_ = false; }

private:
    sockaddr_un address_;
    bool valid_ = true;
};

PosixMessagePorts::PosixMessagePorts(RuntimeDirectory directory, AsioRunLoop& mainLoop, Log& log)
    : directory_(std::move(directory)), mainLoop_(&mainLoop), log_(&log) {}

PosixMessagePorts::PosixMessagePorts(RuntimeDirectory directory) : directory_(std::move(directory)) {}

MessagePorts::LocalPortCreation PosixMessagePorts::createLocal(const std::string& name, Callback callback) {
    if (mainLoop_ == nullptr) return {};
    assert(mainLoop_->isMainThread() && "a local message port is created on the main thread");
    try {
        if (!fs::isPlainFileName(name)) throw TessalyError("The name cannot be used as a file name.");
        directory_.prepare();
        const auto socketPath = directory_.entry(name);
        if (!fitsSocketAddress(socketPath))
            throw TessalyError("Its socket path " + fs::quoted(socketPath) + " is too long.");
        const auto lockPath = socketPath + ".lock";
        auto lock = lockName(lockPath);
        if (!lock) return {nullptr, true};
        auto server = std::make_shared<Server>(*mainLoop_, *log_, std::move(callback), socketPath, lockPath,
                                               std::move(*lock));
        try {
            server->listen();
        } catch (...) {
            server->invalidate();
            throw;
        }
        return {std::make_unique<Local>(std::move(server)), false};
    } catch (const Error& error) {
        logFailure(name, error.what());
        return {};
    }
}

std::unique_ptr<RemoteMessagePort> PosixMessagePorts::createRemote(const std::string& name) {
    if (!fs::isPlainFileName(name)) return nullptr;
    try {
        if (!directory_.checkExisting()) return nullptr;
    } catch (const Error&) {
        // A refused folder cannot hold a port worth talking to.
        return nullptr;
    }
    const auto socketPath = directory_.entry(name);
    if (!fitsSocketAddress(socketPath)) return nullptr;
    const auto address = socketAddress(socketPath);
    if (!hasLiveServer(address)) return nullptr;
    return std::make_unique<Remote>(address);
}

void PosixMessagePorts::logFailure(const std::string& name, const std::string& reason) {
    log_->write(logCategory, LogLevel::error,
                "Cannot create the message port " + fs::quoted(name) + ". " + reason);
}

}  // namespace tessaly
