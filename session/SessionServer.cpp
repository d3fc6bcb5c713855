#include "SessionServer.h"

#include <asio/read.hpp>
#include <asio/write.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <iostream>

#include "foundation/DecodingError.h"
#include "foundation/FileError.h"
#include "foundation/TessalyError.h"
#include "posix/AsioRunLoop.h"

namespace tessaly {

namespace {

bool peerIsOwnUser(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return false;
    return credentials.uid == ::geteuid();
}

FileSystem::FileDescriptor lockBeside(const std::string& socketPath) {
    const std::string path = socketPath + ".lock";
    FileSystem::FileDescriptor lock(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock) throw FileError("Opening the session lock", path, errno);
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) throw TessalyError("A session is already running for this user.");
        throw FileError("Locking", path, errno);
    }
    return lock;
}

// Only the lock holder gets here, so a socket left at the path belongs to a session that died.
void clearSocketPath(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return;
    if (!S_ISSOCK(info.st_mode))
        throw TessalyError("Something other than a socket is in the way at " + FileSystem::quoted(path) +
                           ".");
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        throw FileError("Removing the old socket", path, errno);
}

}  // namespace

// One client's socket: frames in, frames out in order, its peer in between.
class SessionServer::Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(Protocol::socket socket, SessionServer& server)
        : socket_(std::move(socket)), server_(server) {}

    void start() {
        std::weak_ptr<Connection> weak = weak_from_this();
        peer_ = std::make_shared<SessionPeer>(
            server_.world_, server_.loop_,
            [weak](std::string message) {
                if (auto self = weak.lock()) self->send(std::move(message));
            },
            [weak](const std::string& reason) {
                if (auto self = weak.lock()) self->close("dropped: " + reason);
            },
            server_.commands_);
        readLength();
    }

    void close(const std::string& why) {
        if (closed_) return;
        closed_ = true;
        if (why != "gone") std::cerr << "tessaly-session: " << peer_->name() << " " << why << "\n";
        asio::error_code ignored;
        socket_.close(ignored);
        peer_->release();
        server_.forget(this);
    }

    const std::string& name() const { return peer_->name(); }

private:
    void readLength() {
        auto self = shared_from_this();
        asio::async_read(socket_, asio::buffer(length_), [self](const asio::error_code& error, std::size_t) {
            if (error) return self->close("gone");
            const auto size = SessionFrame::decodeLength(
                std::span<const unsigned char, SessionFrame::lengthSize>(self->length_));
            if (!size) return self->close("dropped: a frame too large");
            self->message_.assign(*size, '\0');
            self->readMessage();
        });
    }

    void readMessage() {
        auto self = shared_from_this();
        asio::async_read(socket_, asio::buffer(message_), [self](const asio::error_code& error, std::size_t) {
            if (error) return self->close("gone");
            try {
                self->peer_->receive(self->message_);
            } catch (const DecodingError& decoding) {
                return self->close(std::string("dropped: ") + decoding.what());
            }
            if (!self->closed_) self->readLength();
        });
    }

    void send(std::string message) {
        if (closed_) return;
        SessionFrame::Writer length;
        length.u32(static_cast<std::uint32_t>(message.size()));
        outgoing_.push_back(length.bytes() + message);
        if (outgoing_.size() == 1) writeNext();
    }

    void writeNext() {
        auto self = shared_from_this();
        asio::async_write(socket_, asio::buffer(outgoing_.front()),
                          [self](const asio::error_code& error, std::size_t) {
                              if (error) return self->close("gone");
                              self->outgoing_.pop_front();
                              if (!self->outgoing_.empty()) self->writeNext();
                          });
    }

    Protocol::socket socket_;
    SessionServer& server_;
    std::shared_ptr<SessionPeer> peer_;
    std::array<unsigned char, SessionFrame::lengthSize> length_{};
    std::string message_;
    std::deque<std::string> outgoing_;
    bool closed_ = false;
};

SessionServer::SessionServer(AsioRunLoop& loop, SessionWorld& world, std::string socketPath,
                             SessionPeer::CommandRunner commands)
    : loop_(loop),
      world_(world),
      socketPath_(std::move(socketPath)),
      commands_(std::move(commands)),
      lock_(lockBeside(socketPath_)),
      acceptor_(loop.context()) {
    clearSocketPath(socketPath_);
    asio::error_code error;
    acceptor_.open(Protocol(), error);
    if (!error) acceptor_.bind(Protocol::endpoint(socketPath_), error);
    if (!error) acceptor_.listen(asio::socket_base::max_listen_connections, error);
    if (error) throw FileError("Listening at", socketPath_, error.value());
    ::fcntl(acceptor_.native_handle(), F_SETFD, FD_CLOEXEC);
    accept();
}

SessionServer::~SessionServer() {
    asio::error_code ignored;
    acceptor_.close(ignored);
    ::unlink(socketPath_.c_str());
    auto open = connections_;
    for (const auto& connection : open) connection->close("gone");
}

std::vector<std::string> SessionServer::clients() const {
    std::vector<std::string> names;
    for (const auto& connection : connections_) names.push_back(connection->name());
    return names;
}

void SessionServer::accept() {
    acceptor_.async_accept([this](const asio::error_code& error, Protocol::socket socket) {
        if (error == asio::error::operation_aborted) return;
        if (!error && peerIsOwnUser(socket.native_handle())) {
            ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
            auto connection = std::make_shared<Connection>(std::move(socket), *this);
            connections_.insert(connection);
            connection->start();
        }
        accept();
    });
}

void SessionServer::forget(Connection* connection) {
    std::erase_if(connections_, [&](const auto& held) { return held.get() == connection; });
}

}  // namespace tessaly
