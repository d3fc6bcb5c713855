#pragma once

#include <sys/un.h>

#include <chrono>
#include <memory>
#include <span>
#include <string>

#include "foundation/FileDescriptor.h"
#include "ports/MessagePorts.h"

namespace tessaly {

/// A client's end of a message port on Linux: it names the port's socket, not a server, so after a
/// helper restarts an old end reaches the new one. Each request has a connection of its own: the
/// first one the connection that found the server alive, the others new. The calling thread blocks
/// in poll() for at most the send and receive time-outs it is given.
///
/// Result codes: a socket nobody listens on gives kCFMessagePortIsInvalid; a full listen queue
/// until the send time-out gives kCFMessagePortSendTimeout; a server that drops the connection with
/// the request unread gives kCFMessagePortBecameInvalidError; a reply that is malformed, cut short
/// or too long gives kCFMessagePortTransportError; a server that closes before the first reply byte
/// gives success with no data.
class MessagePortClient : public RemoteMessagePort {
public:
    /// An end for the socket at `socketPath`; null when the path cannot be a socket address or no
    /// live server listens there (a socket left by a server that died).
    static std::unique_ptr<MessagePortClient> find(const std::string& socketPath);
    /// Whether `socketPath` fits a Unix-domain socket address.
    static bool fitsSocketAddress(const std::string& socketPath);

    MessagePortReply sendRequest(std::int32_t messageID, double sendTimeout, double receiveTimeout) override;
    void invalidate() override;

private:
    MessagePortClient(const sockaddr_un& address, FileSystem::FileDescriptor probe);
    /// Sends the request on `fd` and reads the reply; `unread` tells whether the server hung up
    /// without reading the request.
    static MessagePortReply exchange(int fd, std::span<const unsigned char> request,
                                     std::chrono::steady_clock::time_point sendDeadline,
                                     double receiveTimeout, bool& unread);

    sockaddr_un address_;
    // The connection that found the server alive, until the first request takes it.
    FileSystem::FileDescriptor probe_;
    bool valid_ = true;
};

}  // namespace tessaly
