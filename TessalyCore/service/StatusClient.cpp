#include "service/StatusClient.h"

#include <memory>

#include "foundation/TessalyError.h"
#include "foundation/Utf8.h"
#include "service/StatusReply.h"

namespace tessaly::StatusClient {

namespace {

/// A remote end that is invalidated on every path out of the call that opened it.
class RemoteEnd {
public:
    RemoteEnd(MessagePorts& ports, const std::string& name) : port_(ports.createRemote(name)) {}
    ~RemoteEnd() {
        if (port_) port_->invalidate();
    }
    RemoteEnd(const RemoteEnd&) = delete;
    RemoteEnd& operator=(const RemoteEnd&) = delete;

    explicit operator bool() const { return port_ != nullptr; }
    RemoteMessagePort& operator*() const { return *port_; }

private:
    std::unique_ptr<RemoteMessagePort> port_;
};

}  // namespace

std::string send(ServiceRequest request, RemoteMessagePort& port) {
    const MessagePortReply reply =
        port.sendRequest(static_cast<std::int32_t>(request), sendTimeout, receiveTimeout);
    if (reply.status == kCFMessagePortSuccess && reply.data) return *reply.data;
    throw TessalyError("The Tessaly helper did not answer the local request (status " +
                       std::to_string(reply.status) + ").");
}

bool isRunning(MessagePorts& ports, const std::string& name) {
    return static_cast<bool>(RemoteEnd(ports, name));
}

AudioStatus read(MessagePorts& ports, const std::string& name) {
    RemoteEnd remote(ports, name);
    if (!remote)
        throw TessalyError("Quick Look audio memory is off or unavailable. Open Tessaly to enable it.");
    const StatusReply reply = StatusReply::decode(send(ServiceRequest::status, *remote));
    if (reply.status && !reply.error) return *reply.status;
    if (reply.error) throw TessalyError(*reply.error);
    throw TessalyError("The Tessaly helper returned no status.");
}

void stopIfRunning(MessagePorts& ports, const std::string& name) {
    RemoteEnd remote(ports, name);
    if (!remote) return;
    try {
        if (send(ServiceRequest::stop, *remote) == "stopping") return;
        throw TessalyError("Tessaly did not acknowledge the stop request.");
    } catch (const Error&) {
        // A helper that went away meanwhile has stopped, whatever it answered.
        if (!isRunning(ports, name)) return;
        throw;
    }
}

void flushIfRunning(MessagePorts& ports, const std::string& name) {
    RemoteEnd remote(ports, name);
    if (!remote) return;
    const std::string reply = send(ServiceRequest::flush, *remote);
    if (reply == "flushed") return;
    const std::string text = Utf8::repaired(reply);
    if (!text.empty()) throw TessalyError(text);
    throw TessalyError("The helper did not confirm that the audio choice was saved.");
}

}  // namespace tessaly::StatusClient
