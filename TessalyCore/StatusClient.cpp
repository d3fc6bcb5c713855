#include "StatusClient.h"

#include <memory>

#include "StatusReply.h"
#include "TessalyError.h"

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

/// UTF-8 text with every invalid sequence replaced by U+FFFD.
std::string repairedUTF8(const std::string& bytes) {
    static const std::string replacement = "\xEF\xBF\xBD";
    std::string text;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        bool valid = length > 0 && i + length <= bytes.size();
        unsigned codePoint = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            valid = (next & 0xC0) == 0x80;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        // Refuse overlong forms, surrogates and values past U+10FFFF.
        if (valid) {
            static const unsigned minimum[] = {0, 0, 0x80, 0x800, 0x10000};
            valid = codePoint >= minimum[length] && codePoint <= 0x10FFFF && !(codePoint >= 0xD800 && codePoint <= 0xDFFF);
        }
        if (valid) {
            text.append(bytes, i, length);
            i += length;
        } else {
            text += replacement;
            ++i;
        }
    }
    return text;
}

}  // namespace

std::string send(ServiceRequest request, RemoteMessagePort& port) {
    const MessagePortReply reply = port.sendRequest(static_cast<std::int32_t>(request), sendTimeout, receiveTimeout);
    if (reply.status == kCFMessagePortSuccess && reply.data) return *reply.data;
    throw TessalyError("The Tessaly helper did not answer the local request (status " + std::to_string(reply.status) +
                       ").");
}

bool isRunning(MessagePorts& ports, const std::string& name) { return static_cast<bool>(RemoteEnd(ports, name)); }

AudioStatus read(MessagePorts& ports, const std::string& name) {
    RemoteEnd remote(ports, name);
    if (!remote) throw TessalyError("Quick Look audio memory is off or unavailable. Open Tessaly to enable it.");
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
    const std::string text = repairedUTF8(reply);
    if (!text.empty()) throw TessalyError(text);
    throw TessalyError("The helper did not confirm that the audio choice was saved.");
}

}  // namespace tessaly::StatusClient
