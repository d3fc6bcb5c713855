// Core Foundation message ports on Linux, made by the routed message ports through their port.
// The callout's reply is released after it is taken, a NULL reply reaches the sender as empty data,
// and a reply handed to the sender is the sender's to release, as Core Foundation does.

#include <memory>
#include <optional>
#include <string>

#include "mac/CFConversion.h"
#include "mac/standin/StandinObject.h"
#include "mac/standin/StandinRoutes.h"
#include "ports/MessagePorts.h"

namespace standin = tessaly::MacStandin;

namespace {

std::string textOf(CFStringRef string) {
    auto value = tessaly::CFConversion::value(string, nullptr);
    return value && value->text() ? *value->text() : std::string();
}

}  // namespace

struct __CFMessagePort : standin::Object {
    __CFMessagePort() : Object(standin::messagePortType) {}
    void dropContents() override {
        local.reset();
        remote.reset();
    }
    std::unique_ptr<tessaly::LocalMessagePort> local;
    std::unique_ptr<tessaly::RemoteMessagePort> remote;
    CFMessagePortCallBack callout = nullptr;
    void* info = nullptr;
};

namespace {

// A local port's source. The simulation's source serves from when it is made (the simulation has
// no source outside a run loop); removing it from the main run loop ends it.
struct PortSource : __CFRunLoopSource {
    PortSource(__CFMessagePort* port, std::unique_ptr<tessaly::MessagePortRunLoopSource> source)
        : local(port), serving(std::move(source)) {
        CFRetain(local);
    }
    void addedToMainRunLoop() override {}
    void removedFromMainRunLoop() override { serving.reset(); }
    void dropContents() override {
        serving.reset();
        CFRelease(local);
    }
    __CFMessagePort* local;
    std::unique_ptr<tessaly::MessagePortRunLoopSource> serving;
};

}  // namespace

extern "C" {

CFMessagePortRef CFMessagePortCreateLocal(CFAllocatorRef, CFStringRef name, CFMessagePortCallBack callout,
                                          CFMessagePortContext* context, Boolean* shouldFreeInfo) {
    auto port = new __CFMessagePort();
    port->callout = callout;
    port->info = context == nullptr ? nullptr : context->info;
    auto created = standin::routedMessagePorts()->createLocal(
        textOf(name), [port](std::int32_t messageID) -> std::optional<std::string> {
            CFDataRef reply = port->callout(port, messageID, nullptr, port->info);
            // "Return NULL if you want an empty reply returned to the sender."
            if (reply == nullptr) return std::string();
            std::string bytes(reinterpret_cast<const char*>(CFDataGetBytePtr(reply)),
                              static_cast<std::size_t>(CFDataGetLength(reply)));
            CFRelease(reply);
            return bytes;
        });
    if (shouldFreeInfo != nullptr) *shouldFreeInfo = created.shouldFreeInfo;
    if (!created.port) {
        delete port;
        return nullptr;
    }
    port->local = std::move(created.port);
    standin::made(port);
    return port;
}

CFMessagePortRef CFMessagePortCreateRemote(CFAllocatorRef, CFStringRef name) {
    auto remote = standin::routedMessagePorts()->createRemote(textOf(name));
    if (!remote) return nullptr;
    auto port = new __CFMessagePort();
    port->remote = std::move(remote);
    standin::made(port);
    return port;
}

SInt32 CFMessagePortSendRequest(CFMessagePortRef remote, SInt32 msgid, CFDataRef, CFTimeInterval sendTimeout,
                                CFTimeInterval rcvTimeout, CFStringRef, CFDataRef* returnData) {
    if (!remote->remote) return kCFMessagePortIsInvalid;
    const tessaly::MessagePortReply reply = remote->remote->sendRequest(msgid, sendTimeout, rcvTimeout);
    if (returnData != nullptr) {
        // Every reply that came is data, an empty one included.
        const std::string bytes = reply.data.value_or(std::string());
        *returnData = reply.status == kCFMessagePortSuccess
                          ? CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(bytes.data()),
                                         static_cast<CFIndex>(bytes.size()))
                          : nullptr;
    }
    return reply.status;
}

CFRunLoopSourceRef CFMessagePortCreateRunLoopSource(CFAllocatorRef, CFMessagePortRef local, CFIndex) {
    if (!local->local) return nullptr;
    auto serving = local->local->createRunLoopSource();
    if (!serving) return nullptr;
    auto source = new PortSource(local, std::move(serving));
    standin::made(source);
    return source;
}

void CFMessagePortInvalidate(CFMessagePortRef ms) {
    if (ms->local) ms->local->invalidate();
    if (ms->remote) ms->remote->invalidate();
}

Boolean CFMessagePortIsValid(CFMessagePortRef ms) {
    return ms->local ? ms->local->isValid() : false;
}
}
