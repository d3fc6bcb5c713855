#pragma once

#include <sys/un.h>

#include <memory>
#include <string>

#include "ports/MessagePorts.h"

namespace tessaly {

/// A client's end of a message port on Linux: it names the port's socket, not a server, so after a
/// helper restarts an old end reaches the new one. Each request opens its own connection and the
/// calling thread blocks in poll() for at most the send and receive time-outs it is given.
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
    void invalidate() override { valid_ = false; }

private:
    explicit MessagePortClient(const sockaddr_un& address) : address_(address) {}

    sockaddr_un address_;
    bool valid_ = true;
};

}  // namespace tessaly
