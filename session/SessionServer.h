#pragma once

#include <asio/local/stream_protocol.hpp>

#include <memory>
#include <set>
#include <string>

#include "SessionPeer.h"
#include "foundation/FileDescriptor.h"

namespace tessaly {

class AsioRunLoop;

/// Serves the session's world on a Unix-domain socket: one SessionPeer per client of the same
/// user, messages read and written on the run loop's thread. One session per runtime folder: a
/// lock beside the socket is held while the server lives, and a socket left by a session that died
/// is replaced.
class SessionServer {
public:
    /// Listens at `socketPath`; throws TessalyError when a session already serves there, and
    /// FileError when the socket cannot be made.
    SessionServer(AsioRunLoop& loop, SessionWorld& world, std::string socketPath,
                  SessionPeer::CommandRunner commands);
    ~SessionServer();
    SessionServer(const SessionServer&) = delete;
    SessionServer& operator=(const SessionServer&) = delete;

    /// The names of the clients connected now.
    std::vector<std::string> clients() const;

private:
    class Connection;
    using Protocol = asio::local::stream_protocol;

    void accept();
    void forget(Connection* connection);

    AsioRunLoop& loop_;
    SessionWorld& world_;
    const std::string socketPath_;
    SessionPeer::CommandRunner commands_;
    FileSystem::FileDescriptor lock_;
    Protocol::acceptor acceptor_;
    std::set<std::shared_ptr<Connection>> connections_;
};

}  // namespace tessaly
