#include "posix/MessagePortServer.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>
#include <vector>

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

bool peerIs(int fd, uid_t user) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
    return credentials.uid == user;
}

// recv and send on a non-blocking socket, again after a signal: the count, 0 at the end of the
// stream, or -1 with errno set (EAGAIN: nothing more now).
ssize_t receiveNow(int fd, unsigned char* data, std::size_t size) {
    ssize_t count = 0;
    do {
        count = ::recv(fd, data, size, 0);
    } while (count < 0 && errno == EINTR);
    return count;
}

ssize_t sendNow(int fd, const char* data, std::size_t size) {
    ssize_t count = 0;
    do {
        count = ::send(fd, data, size, MSG_NOSIGNAL);
    } while (count < 0 && errno == EINTR);
    return count;
}

bool wouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
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
      ownUser_(::geteuid()),
      acceptor_(loop.context()),
      retryTimer_(loop.context()),
      deadlineTimer_(loop.context()) {}

void MessagePortServer::listen() {
    clearSocketPath(socketPath_);
    std::error_code error;
    acceptor_.open(Protocol(), error);
    if (!error) acceptor_.bind(Protocol::endpoint(socketPath_), error);
    if (error) throw FileError("Listening on", socketPath_, error.value());
    bound_ = true;
    acceptor_.listen(asio::socket_base::max_listen_connections, error);
    if (!error) acceptor_.non_blocking(true, error);
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
    deadlineTimer_.cancel();
    // The files go before any client hears its connection close, so no client that was cut off
    // still finds the port. The socket goes first, while the lock keeps other servers away.
    if (bound_) ::unlink(socketPath_.c_str());
    ::unlink(lockPath_.c_str());
    lock_.close();
    for (const auto& connection : connections_) connection->socket.close(ignored);
    connections_.clear();
}

void MessagePortServer::acceptNext() {
    if (!valid_ || sources_ == 0 || accepting_) return;
    accepting_ = true;
    acceptor_.async_wait(Protocol::acceptor::wait_read,
                         [self = shared_from_this()](const std::error_code& error) {
                             self->accepting_ = false;
                             if (!self->valid_) return;
                             if (!error) return self->acceptOne();
                             if (error != asio::error::operation_aborted) return self->retryAcceptLater();
                             self->acceptNext();
                         });
}

// One connection each time the listening socket is found readable: waiting again reports at once
// any that are still queued, and the loop's other work gets its turn in between.
void MessagePortServer::acceptOne() {
    int fd = -1;
    do {
        fd = ::accept4(acceptor_.native_handle(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && (errno == EINTR || errno == ECONNABORTED));
    if (fd < 0 && !wouldBlock()) return retryAcceptLater();
    if (fd >= 0) admit(FileSystem::FileDescriptor(fd));
    acceptNext();
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

void MessagePortServer::admit(FileSystem::FileDescriptor socket) {
    if (!peerIs(socket.get(), ownUser_)) {
        log_.write(logCategory, LogLevel::error, "Refused a local connection from another user.");
        return;
    }
    Exchange exchange;
    Progress progress = advance(socket.get(), exchange);
    // The client's connect wakes the loop, which on a busy machine then often runs on the client's
    // own processor before the client has sent its request. Yielding once lets the client send it
    // (it does so as it connects), so the request is answered at once instead of after a round of
    // watching the socket; a client that stays silent costs this one yield, then waits like any other.
    if (progress == Progress::waitingToRead && exchange.requestReceived == 0) {
        ::sched_yield();
        progress = advance(socket.get(), exchange);
    }
    if (progress != Progress::finished) hold(std::move(socket), std::move(exchange), progress);
}

// Takes the exchange as far as the socket allows without waiting: the request in, the callout's
// answer, the reply out.
MessagePortServer::Progress MessagePortServer::advance(int fd, Exchange& exchange) {
    while (!exchange.answered) {
        const ssize_t count = receiveNow(fd, exchange.request.data() + exchange.requestReceived,
                                         exchange.request.size() - exchange.requestReceived);
        if (count < 0 && wouldBlock()) return Progress::waitingToRead;
        if (count <= 0) return Progress::finished;  // a probe, or a client gone
        exchange.requestReceived += static_cast<std::size_t>(count);
        if (exchange.requestReceived < exchange.request.size()) continue;
        // The caller's `self` keeps the callback alive even if it invalidates its own port.
        const auto messageID = MessagePortFrame::decodeRequest(exchange.request);
        exchange.reply = MessagePortFrame::encodeReply(callback_(*messageID));
        exchange.answered = true;
        if (!valid_) return Progress::finished;  // invalidated by the callout: no reply goes out
    }
    while (exchange.replySent < exchange.reply.size()) {
        const ssize_t count = sendNow(fd, exchange.reply.data() + exchange.replySent,
                                      exchange.reply.size() - exchange.replySent);
        if (count < 0 && wouldBlock()) return Progress::waitingToWrite;
        if (count <= 0) return Progress::finished;
        exchange.replySent += static_cast<std::size_t>(count);
    }
    return Progress::finished;
}

// A connection still to deliver its request or to take its reply waits on the loop, watched by
// its deadline. The oldest connection has had the longest to send its request, and a client that
// wants an answer sends it as it connects.
void MessagePortServer::hold(FileSystem::FileDescriptor socket, Exchange exchange, Progress progress) {
    Protocol::socket held(loop_.context());
    std::error_code error;
    held.assign(Protocol(), socket.get(), error);
    if (error) return;
    socket.release();
    if (connections_.size() >= maxConnections) close(connections_.front());
    auto connection = std::make_shared<Connection>(std::move(held), std::move(exchange));
    connection->deadline = Clock::now() + connectionDeadline;
    connections_.push_back(connection);
    watchDeadlines();
    waitFor(connection, progress);
}

void MessagePortServer::waitFor(const ConnectionPointer& connection, Progress progress) {
    const auto readiness =
        progress == Progress::waitingToRead ? Protocol::socket::wait_read : Protocol::socket::wait_write;
    connection->socket.async_wait(
        readiness, [self = shared_from_this(), connection](const std::error_code& error) {
            if (!self->valid_ || !self->isOpen(connection)) return;
            if (error) return self->close(connection);
            const bool wasAnswered = connection->exchange.answered;
            const Progress next = self->advance(connection->socket.native_handle(), connection->exchange);
            if (!self->valid_ || !self->isOpen(connection)) return;
            if (next == Progress::finished) return self->close(connection);
            // The reply gets the same time to be taken as the request had to arrive.
            if (!wasAnswered) connection->deadline = Clock::now() + connectionDeadline;
            self->waitFor(connection, next);
        });
}

void MessagePortServer::watchDeadlines() {
    if (watchingDeadlines_ || connections_.empty() || !valid_) return;
    auto earliest = connections_.front()->deadline;
    for (const auto& connection : connections_) earliest = std::min(earliest, connection->deadline);
    watchingDeadlines_ = true;
    deadlineTimer_.expires_at(earliest);
    deadlineTimer_.async_wait([self = shared_from_this()](const std::error_code& error) {
        self->watchingDeadlines_ = false;
        if (error || !self->valid_) return;
        const auto now = Clock::now();
        std::vector<ConnectionPointer> late;
        for (const auto& connection : self->connections_) {
            if (connection->deadline <= now) late.push_back(connection);
        }
        for (const auto& connection : late) self->close(connection);
        self->watchDeadlines();
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
    connection->socket.close(ignored);
}

}  // namespace tessaly
