#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "ports/Log.h"
#include "ports/MessagePorts.h"
#include "posix/RuntimeDirectory.h"

namespace tessaly {

class AsioRunLoop;

/// Message ports on Linux. A port named N is the Unix-domain stream socket N in the user's runtime
/// folder; its server holds an exclusive lock (flock) on the file "N.lock" next to it for as long
/// as the port lives. The lock decides who serves the name: a second server fails while the first
/// lives, even in the same process, and a socket left behind by a server that died (its lock went
/// with it) is replaced. Only the lock holder ever removes or binds the socket, so two servers
/// starting at the same moment cannot both win. Invalidating the port removes both files.
///
/// One exchange per connection, in these bytes:
///   request  the message id: 4 bytes, signed, big-endian. Requests carry no data.
///   reply    1 byte 0 for "no reply"; or 1 byte 1, the length (4 bytes, unsigned, big-endian, at
///            most maxReplySize) and that many bytes of reply data.
/// The server closes the connection after its reply. A client that closes without sending a request
/// (a probe for a live server) gets nothing.
///
/// The server runs entirely on the loop's thread with asynchronous IO: it answers only peers with
/// its own user id, calls the callback for one request at a time, and closes any connection that
/// has not delivered its whole request, or taken its whole reply, within connectionDeadline seconds,
/// so a silent or stalled client can neither hold the main thread nor delay other clients.
///
/// The client is synchronous: each request opens its own connection and waits with poll() for at
/// most the send and receive time-outs it is given. A remote end names a socket, not a server, so
/// after a helper restarts an old remote end reaches the new one. Result codes: a socket nobody
/// listens on gives kCFMessagePortIsInvalid; a full listen queue until the send time-out gives
/// kCFMessagePortSendTimeout; a server that drops the connection with the request unread gives
/// kCFMessagePortBecameInvalidError; a reply that is malformed, cut short or too long gives
/// kCFMessagePortTransportError; a server that closes before the first reply byte gives success
/// with no data.
class PosixMessagePorts : public MessagePorts {
public:
    /// Ports in `directory` whose servers run on `mainLoop`; `log` hears why a local port could not
    /// be made and which connections were refused.
    PosixMessagePorts(RuntimeDirectory directory, AsioRunLoop& mainLoop, Log& log);
    /// Client ends only (the setup application has no Asio loop): createLocal always fails.
    explicit PosixMessagePorts(RuntimeDirectory directory);

    /// Call on the main loop's thread. Creates the runtime folder when it is missing.
    LocalPortCreation createLocal(const std::string& name, Callback callback) override;
    /// Callable from any thread. Null when the folder, the socket or a live server is missing.
    std::unique_ptr<RemoteMessagePort> createRemote(const std::string& name) override;

    /// The largest reply either side accepts, so a confused peer cannot make the other allocate
    /// without bound.
    static constexpr std::size_t maxReplySize = 1024 * 1024;
    /// Seconds a connection gets to deliver its request, and again to take the reply.
    static constexpr double connectionDeadline = 1.0;
    /// Connections served at once; more wait in the listen queue until one closes.
    static constexpr std::size_t maxConnections = 16;

private:
    class Server;
    class Local;
    class Source;
    class Remote;

    void logFailure(const std::string& name, const std::string& reason);

    RuntimeDirectory directory_;
    AsioRunLoop* mainLoop_ = nullptr;
    Log* log_ = nullptr;
};

}  // namespace tessaly
