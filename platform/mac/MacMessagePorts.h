#pragma once

#include "ports/MessagePorts.h"

namespace tessaly {

/// Named message ports over CFMessagePort. A local port's callout runs on the main thread through
/// its run-loop source in the default mode; a remote end sends in the default mode and waits for
/// the reply.
class MacMessagePorts : public MessagePorts {
public:
    LocalPortCreation createLocal(const std::string& name, Callback callback) override;
    std::unique_ptr<RemoteMessagePort> createRemote(const std::string& name) override;
};

}  // namespace tessaly
