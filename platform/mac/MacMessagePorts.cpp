#include "mac/MacMessagePorts.h"

#include <CoreFoundation/CoreFoundation.h>

#include "mac/CFConversion.h"
#include "mac/CFReference.h"

namespace tessaly {

namespace {

CFMessagePortRef portOf(const CFReference& port) {
    return const_cast<CFMessagePortRef>(port.as<const __CFMessagePort*>());
}

class MacRunLoopSource : public MessagePortRunLoopSource {
public:
    explicit MacRunLoopSource(CFReference source) : source_(std::move(source)) {
        CFRunLoopAddSource(CFRunLoopGetMain(), runLoopSource(), kCFRunLoopDefaultMode);
    }
    ~MacRunLoopSource() override {
        CFRunLoopRemoveSource(CFRunLoopGetMain(), runLoopSource(), kCFRunLoopDefaultMode);
    }
    MacRunLoopSource(const MacRunLoopSource&) = delete;
    MacRunLoopSource& operator=(const MacRunLoopSource&) = delete;

private:
    CFRunLoopSourceRef runLoopSource() const {
        return const_cast<CFRunLoopSourceRef>(source_.as<const __CFRunLoopSource*>());
    }

    CFReference source_;
};

class MacLocalPort : public LocalMessagePort {
public:
    explicit MacLocalPort(std::unique_ptr<MessagePorts::Callback> callback)
        : callback_(std::move(callback)) {}
    ~MacLocalPort() override { invalidate(); }
    MacLocalPort(const MacLocalPort&) = delete;
    MacLocalPort& operator=(const MacLocalPort&) = delete;

    void adopt(CFReference port) { port_ = std::move(port); }

    std::unique_ptr<MessagePortRunLoopSource> createRunLoopSource() override {
        CFReference source =
            CFReference::adopt(CFMessagePortCreateRunLoopSource(kCFAllocatorDefault, portOf(port_), 0));
        if (!source) return nullptr;
        return std::make_unique<MacRunLoopSource>(std::move(source));
    }
    void invalidate() override {
        if (port_) CFMessagePortInvalidate(portOf(port_));
    }
    bool isValid() const override { return port_ && CFMessagePortIsValid(portOf(port_)) != 0; }

    // The callout: requests carry no data; the reply is made here and released by Core Foundation.
    // NULL sends the sender an empty reply, which is what no reply is on a Mac.
    static CFDataRef callout(CFMessagePortRef, SInt32 messageID, CFDataRef, void* info) {
        const auto& callback = *static_cast<MessagePorts::Callback*>(info);
        const std::optional<std::string> reply = callback(messageID);
        if (!reply || reply->empty()) return nullptr;
        return CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(reply->data()),
                            static_cast<CFIndex>(reply->size()));
    }

private:
    std::unique_ptr<MessagePorts::Callback> callback_;
    CFReference port_;
};

class MacRemotePort : public RemoteMessagePort {
public:
    explicit MacRemotePort(CFReference port) : port_(std::move(port)) {}

    MessagePortReply sendRequest(std::int32_t messageID, double sendTimeout, double receiveTimeout) override {
        CFDataRef returned = nullptr;
        MessagePortReply reply;
        reply.status = CFMessagePortSendRequest(portOf(port_), messageID, nullptr, sendTimeout,
                                                receiveTimeout, kCFRunLoopDefaultMode, &returned);
        // The reply data follows the Create rule. A callout's NULL arrives as zero bytes.
        const CFReference data = CFReference::adopt(returned);
        if (data) {
            reply.data = std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(data.as<CFDataRef>())),
                                     static_cast<std::size_t>(CFDataGetLength(data.as<CFDataRef>())));
        }
        return reply;
    }
    void invalidate() override { CFMessagePortInvalidate(portOf(port_)); }

private:
    CFReference port_;
};

}  // namespace

MessagePorts::LocalPortCreation MacMessagePorts::createLocal(const std::string& name, Callback callback) {
    const CFReference portName = CFConversion::create(CFValue(name), nullptr);
    if (!portName) return {};
    auto context = std::make_unique<Callback>(std::move(callback));
    CFMessagePortContext portContext{0, context.get(), nullptr, nullptr, nullptr};
    Boolean shouldFreeInfo = false;
    CFReference port =
        CFReference::adopt(CFMessagePortCreateLocal(kCFAllocatorDefault, portName.as<CFStringRef>(),
                                                    MacLocalPort::callout, &portContext, &shouldFreeInfo));
    // With shouldFreeInfo set Core Foundation handed back a port that serves another context: not ours.
    if (shouldFreeInfo != 0) return {nullptr, true};
    if (!port) return {};
    auto local = std::make_unique<MacLocalPort>(std::move(context));
    local->adopt(std::move(port));
    return {std::move(local), false};
}

std::unique_ptr<RemoteMessagePort> MacMessagePorts::createRemote(const std::string& name) {
    const CFReference portName = CFConversion::create(CFValue(name), nullptr);
    if (!portName) return nullptr;
    CFReference port =
        CFReference::adopt(CFMessagePortCreateRemote(kCFAllocatorDefault, portName.as<CFStringRef>()));
    if (!port) return nullptr;
    return std::make_unique<MacRemotePort>(std::move(port));
}

}  // namespace tessaly
