#pragma once

#include <string>

#include "ports/Log.h"
#include "ports/MessagePorts.h"
#include "posix/RuntimeDirectory.h"

namespace tessaly {

class AsioRunLoop;

/// Message ports on Linux. A port named N is the Unix-domain stream socket N in the user's runtime
/// folder (see MessagePortFrame for its bytes); its server (MessagePortServer) holds an exclusive lock
/// (flock) on the file "N.lock" next to it for as long as the port lives. The lock decides who serves
/// the name: a second server fails while the first lives, even in the same process, and a socket left
/// behind by a server that died (its lock went with it) is replaced. Only the lock holder ever removes
/// or binds the socket, so two servers starting at the same moment cannot both win. Invalidating the
/// port removes both files. Clients (MessagePortClient) block their own thread.
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

private:
    class Local;
    class Source;

    void logFailure(const std::string& name, const std::string& reason);

    RuntimeDirectory directory_;
    AsioRunLoop* mainLoop_ = nullptr;
    Log* log_ = nullptr;
};

}  // namespace tessaly
