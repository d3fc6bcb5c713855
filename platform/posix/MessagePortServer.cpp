#include "posix/MessagePortServer.h"

#include <asio/read.hpp>
#include <asio/write.hpp>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

#include "foundation/FileError.h"
#include "foundation/TessalyError.h"
#include "posix/AsioRunLoop.h"

namespace tessaly {

namespace {

// The status port belongs to the mute service, so its transport logs under the service's category.
constexpr std::string_view logCategory = "mute";

// Long enough to outlast a burst of failures such as running out of file descriptors, short enough
// that clients barely notice.
constexpr auto acceptRetryDelay = std::chrono::milliseconds(100);

// Child processes must not inherit the port's sockets and keep them alive.
void keepFromChildren(int fd) {
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

// Only the lock holder gets here, so whatever socket is left belongs to a server that died.
void clearSocketPath(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return;
        throw FileError("Checking", path, errno);
    }
    if (!S_ISSOCK(info.st_mode))
        throw TessalyError("Something other than a socket is in the way at " + FileSystem::quoted(path) +
                           ".");
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        throw FileError("Removing the old socket", path, errno);
}

bool peerIsOwnUser(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
    return credentials.uid == ::geteuid();
}

}  // namespace

MessagePortServer::MessagePortServer(AsioRunLoop& loop, Log& log, MessagePorts::Callback callback,
                                     std::string socketPath, std::string lockPath,
                                     FileSystem::FileDescriptor lock)
    : loop_(loop),
      log_(log),
      callback_(std::move(callback)),
      socketPath_(std::move(socketPath)),
      lockPath_(std::move(lockPath)),
      lock_(std::move(lock)),
      acceptor_(loop.context()),
      retryTimer_(loop.context()) {}

void MessagePortServer::listen() {
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

void MessagePortServer::addSource() {
    ++sources_;
    acceptNext();
}

void MessagePortServer::removeSource() {
    if (--sources_ > 0 || !valid_) return;
    std::error_code ignored;
    acceptor_.cancel(ignored);
}

void MessagePortServer::invalidate() {
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

void MessagePortServer::acceptNext() {
    if (!valid_ || sources_ == 0 || accepting_) return;
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
void MessagePortServer::retryAcceptLater() {
    accepting_ = true;
    retryTimer_.expires_after(acceptRetryDelay);
    retryTimer_.async_wait([self = shared_from_this()](const std::error_code&) {
        self->accepting_ = false;
        self->acceptNext();
    });
}

void MessagePortServer::admit(Protocol::socket socket) {
    keepFromChildren(socket.native_handle());
    if (!peerIsOwnUser(socket.native_handle())) {
        log_.write(logCategory, LogLevel::error, "Refused a local connection from another user.");
        return;
    }
    // The oldest connection has had the longest to send its request, and a client that wants an
    // answer sends it as it connects.
    if (connections_.size() >= maxConnections) close(connections_.front());
    auto connection = std::make_shared<Connection>(std::move(socket), loop_.context());
    connections_.push_back(connection);
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

void MessagePortServer::answer(const ConnectionPointer& connection) {
    const auto messageID = MessagePortFrame::decodeRequest(connection->request);
    // `self` in the caller keeps the callback alive even if it invalidates its own port.
    auto reply = callback_(*messageID);
    if (!valid_ || !isOpen(connection)) return;
    connection->reply = MessagePortFrame::encodeReply(reply);
    armDeadline(connection);
    asio::async_write(connection->socket, asio::buffer(connection->reply),
                      [self = shared_from_this(), connection](const std::error_code&, std::size_t) {
                          if (self->valid_) self->close(connection);
                      });
}

void MessagePortServer::armDeadline(const ConnectionPointer& connection) {
    const auto phase = ++connection->phase;
    connection->deadline.expires_after(connectionDeadline);
    connection->deadline.async_wait(
        [self = shared_from_this(), connection, phase](const std::error_code& error) {
            if (error || !self->valid_ || connection->phase != phase) return;
            self->close(connection);
        });
}

bool MessagePortServer::isOpen(const ConnectionPointer& connection) const {
    return std::find(connections_.begin(), connections_.end(), connection) != connections_.end();
}

void MessagePortServer::close(ConnectionPointer connection) {  // a copy: it may be the list's own
    const auto position = std::find(connections_.begin(), connections_.end(), connection);
    if (position == connections_.end()) return;
    connections_.erase(position);
    std::error_code ignored;
    connection->deadline.cancel();
    connection->socket.close(ignored);
}

}  // namespace tessaly
