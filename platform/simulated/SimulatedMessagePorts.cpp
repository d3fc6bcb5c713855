#include "simulated/SimulatedMessagePorts.h"

#include <utility>

namespace tessaly {

struct SimulatedMessagePorts::Port {
    explicit Port(Callback function) : callback(std::move(function)) {}
    // Kept until the last reference goes, so a callout that invalidates its own port finishes.
    Callback callback;
    bool valid = true;
    int sources = 0;
};

struct SimulatedMessagePorts::Machine {
    std::map<std::string, std::weak_ptr<Port>> ports;
    bool failNextCreateLocal = false;
    bool failNextRunLoopSource = false;
    std::optional<std::int32_t> nextSendFailure;
    bool dropNextReply = false;
    int delivered = 0;

    std::shared_ptr<Port> liveNamed(const std::string& name) const {
        const auto found = ports.find(name);
        if (found == ports.end()) return nullptr;
        auto port = found->second.lock();
        return port && port->valid ? port : nullptr;
    }
};

class SimulatedMessagePorts::Source : public MessagePortRunLoopSource {
public:
    explicit Source(std::shared_ptr<Port> port) : port_(std::move(port)) { ++port_->sources; }
    ~Source() override { --port_->sources; }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

private:
    std::shared_ptr<Port> port_;
};

class SimulatedMessagePorts::Local : public LocalMessagePort {
public:
    Local(std::shared_ptr<Machine> machine, std::shared_ptr<Port> port)
        : machine_(std::move(machine)), port_(std::move(port)) {}
    ~Local() override { invalidate(); }
    Local(const Local&) = delete;
    Local& operator=(const Local&) = delete;

    std::unique_ptr<MessagePortRunLoopSource> createRunLoopSource() override {
        if (!port_->valid) return nullptr;
        if (machine_->failNextRunLoopSource) {
            machine_->failNextRunLoopSource = false;
            return nullptr;
        }
        return std::make_unique<Source>(port_);
    }

    void invalidate() override { port_->valid = false; }
    bool isValid() const override { return port_->valid; }

private:
    std::shared_ptr<Machine> machine_;
    std::shared_ptr<Port> port_;
};

class SimulatedMessagePorts::Remote : public RemoteMessagePort {
public:
    Remote(std::shared_ptr<Machine> machine, std::weak_ptr<Port> port)
        : machine_(std::move(machine)), port_(std::move(port)) {}

    MessagePortReply sendRequest(std::int32_t messageID, double, double) override {
        if (!valid_) return {kCFMessagePortIsInvalid, std::nullopt};
        if (auto failure = std::exchange(machine_->nextSendFailure, std::nullopt))
            return {*failure, std::nullopt};
        // A remote end stays bound to the port it found, even if a new port takes the name later.
        auto port = port_.lock();
        if (!port || !port->valid) return {kCFMessagePortIsInvalid, std::nullopt};
        if (port->sources == 0) return {kCFMessagePortReceiveTimeout, std::nullopt};
        const bool replyLost = std::exchange(machine_->dropNextReply, false);
        ++machine_->delivered;
        auto reply = port->callback(messageID);
        if (replyLost) return {kCFMessagePortReceiveTimeout, std::nullopt};
        return {kCFMessagePortSuccess, std::move(reply)};
    }

    void invalidate() override { valid_ = false; }

private:
    std::shared_ptr<Machine> machine_;
    std::weak_ptr<Port> port_;
    bool valid_ = true;
};

SimulatedMessagePorts::SimulatedMessagePorts() : machine_(std::make_shared<Machine>()) {}

MessagePorts::LocalPortCreation SimulatedMessagePorts::createLocal(const std::string& name,
                                                                   Callback callback) {
    if (machine_->liveNamed(name)) return {nullptr, true};
    if (std::exchange(machine_->failNextCreateLocal, false)) return {nullptr, false};
    auto port = std::make_shared<Port>(std::move(callback));
    machine_->ports[name] = port;
    return {std::make_unique<Local>(machine_, std::move(port)), false};
}

std::unique_ptr<RemoteMessagePort> SimulatedMessagePorts::createRemote(const std::string& name) {
    auto port = machine_->liveNamed(name);
    if (!port) return nullptr;
    return std::make_unique<Remote>(machine_, port);
}

void SimulatedMessagePorts::failNextCreateLocal() {
    machine_->failNextCreateLocal = true;
}

void SimulatedMessagePorts::failNextRunLoopSource() {
    machine_->failNextRunLoopSource = true;
}

void SimulatedMessagePorts::failNextSend(std::int32_t status) {
    machine_->nextSendFailure = status;
}

void SimulatedMessagePorts::dropNextReply() {
    machine_->dropNextReply = true;
}

bool SimulatedMessagePorts::isServed(const std::string& name) const {
    return machine_->liveNamed(name) != nullptr;
}

int SimulatedMessagePorts::deliveredCount() const {
    return machine_->delivered;
}

}  // namespace tessaly
