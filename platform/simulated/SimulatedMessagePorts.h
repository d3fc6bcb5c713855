#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "ports/MessagePorts.h"

namespace tessaly {

/// Message ports in memory, for tests on virtual time. One instance is one machine's name space:
/// the helper's local port and every client's remote end must come from the same instance.
/// Sending calls the callout directly, as a request to a port of the same process would, so it
/// must happen on the main thread. A port without a run-loop source never answers: its clients
/// see a receive time-out at once (virtual time does not pass while they wait).
class SimulatedMessagePorts : public MessagePorts {
public:
    SimulatedMessagePorts();

    LocalPortCreation createLocal(const std::string& name, Callback callback) override;
    std::unique_ptr<RemoteMessagePort> createRemote(const std::string& name) override;

    /// The next createLocal makes no port, with `shouldFreeInfo` clear (the port cannot be made).
    void failNextCreateLocal();
    /// The next createRunLoopSource, on any port, makes no source.
    void failNextRunLoopSource();
    /// The next sendRequest fails with `status` before its request reaches any port (for example
    /// kCFMessagePortSendTimeout or kCFMessagePortTransportError).
    void failNextSend(std::int32_t status);
    /// The next sendRequest reaches its port, whose callout runs, but the reply comes too late:
    /// kCFMessagePortReceiveTimeout and no data.
    void dropNextReply();

    /// Whether a valid local port has `name`.
    bool isServed(const std::string& name) const;
    /// How many requests have reached a callout.
    int deliveredCount() const;

private:
    struct Port;
    struct Machine;
    class Local;
    class Source;
    class Remote;

    std::shared_ptr<Machine> machine_;
};

}  // namespace tessaly
