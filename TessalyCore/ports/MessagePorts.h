#pragma once
// Port: Core Foundation message ports (CFMessagePort). Plain C++; implementations live in
// platform/posix (Unix-domain sockets) and platform/simulated (in memory).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tessaly {

/// Result codes of CFMessagePortSendRequest.
enum CFMessagePortSendRequestResult : std::int32_t {
    kCFMessagePortSuccess = 0,
    kCFMessagePortSendTimeout = -1,
    kCFMessagePortReceiveTimeout = -2,
    kCFMessagePortIsInvalid = -3,
    kCFMessagePortTransportError = -4,
    kCFMessagePortBecameInvalidError = -5,
};

/// What CFMessagePortSendRequest hands back: its result code and the reply data, if any came. On a
/// Mac a callout that returns NULL sends an empty reply, so no reply may arrive as zero bytes: no
/// client may take a zero-length reply for an answer.
struct MessagePortReply {
    std::int32_t status = kCFMessagePortSuccess;
    std::optional<std::string> data;

    friend bool operator==(const MessagePortReply&, const MessagePortReply&) = default;
};

/// A local port's source in the main run loop (CFMessagePortCreateRunLoopSource, added to the main
/// run loop in the default mode). Destroying it removes it from the run loop (CFRunLoopRemoveSource);
/// requests that arrive afterwards wait unanswered.
class MessagePortRunLoopSource {
public:
    virtual ~MessagePortRunLoopSource() = default;
};

/// The serving end of a named port (a local CFMessagePort). Destroying it invalidates it.
class LocalMessagePort {
public:
    virtual ~LocalMessagePort() = default;

    /// CFMessagePortCreateRunLoopSource + CFRunLoopAddSource on the main run loop: the callback is
    /// called on the main thread while the source exists. Null when no source can be made.
    virtual std::unique_ptr<MessagePortRunLoopSource> createRunLoopSource() = 0;
    /// CFMessagePortInvalidate: stops serving and gives the name up; clients no longer find the port.
    virtual void invalidate() = 0;
    /// CFMessagePortIsValid.
    virtual bool isValid() const = 0;
};

/// A client's end of a named port (a remote CFMessagePort). Used by one thread at a time.
class RemoteMessagePort {
public:
    virtual ~RemoteMessagePort() = default;

    /// CFMessagePortSendRequest with no data, in the default mode, asking for the reply: waits at
    /// most `sendTimeout` seconds to deliver `messageID` and then `receiveTimeout` seconds for the
    /// reply. The status is one of CFMessagePortSendRequestResult.
    virtual MessagePortReply sendRequest(std::int32_t messageID, double sendTimeout,
                                         double receiveTimeout) = 0;
    /// CFMessagePortInvalidate: later requests fail with kCFMessagePortIsInvalid.
    virtual void invalidate() = 0;
};

/// Creates the two ends of named message ports.
class MessagePorts {
public:
    /// A local port's callout: gets the message id (requests carry no data) and returns the reply
    /// bytes, or no reply (which may reach the client as zero bytes, as on a Mac). Runs on the main
    /// thread.
    using Callback = std::function<std::optional<std::string>(std::int32_t messageID)>;

    /// What CFMessagePortCreateLocal hands back. Where CF returns the existing port with
    /// `shouldFreeInfo` set, no port comes back here.
    struct LocalPortCreation {
        std::unique_ptr<LocalMessagePort> port;
        /// The name is already served, so the new port was not made and its context is unused.
        bool shouldFreeInfo = false;
    };

    virtual ~MessagePorts() = default;

    /// CFMessagePortCreateLocal: a port serving `name`, on the main thread. No port comes back when
    /// the name is taken (`shouldFreeInfo` set) or when the port cannot be made (flag clear).
    virtual LocalPortCreation createLocal(const std::string& name, Callback callback) = 0;
    /// CFMessagePortCreateRemote: an end for sending to `name`, or null when nobody serves it.
    virtual std::unique_ptr<RemoteMessagePort> createRemote(const std::string& name) = 0;
};

}  // namespace tessaly
