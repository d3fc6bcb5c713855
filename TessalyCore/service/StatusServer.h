#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ports/Log.h"
#include "ports/MessagePorts.h"
#include "ports/RunLoop.h"
#include "service/AudioStatus.h"

namespace tessaly {

/// The status port's serving end: answers status, stop and flush requests on the main thread with
/// what the mute service hands it, and gives the port's name up when closed.
class StatusServer {
public:
    /// What the requests ask of the mute service.
    struct Handlers {
        /// Builds the status record; throws when it cannot be built.
        std::function<AudioStatus()> status;
        /// Saves the choice now; returns why it is still unsaved, or nothing when it is saved.
        std::function<std::optional<std::string>()> flush;
    };

    StatusServer(MessagePorts& ports, RunLoop& runLoop, Log& log)
        : ports_(ports), runLoop_(runLoop), log_(log) {}
    ~StatusServer() { close(); }
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    /// Creates the local port `name` and its run-loop source. Throws when the name is already
    /// served or no source can be made; a port made before the failure stays until close().
    void open(const std::string& name, Handlers handlers);
    /// Removes the source, invalidates the port and drops both. Safe when not open.
    void close();

private:
    std::optional<std::string> handle(std::int32_t messageID);

    MessagePorts& ports_;
    RunLoop& runLoop_;
    Log& log_;
    Handlers handlers_;
    std::unique_ptr<LocalMessagePort> port_;
    std::unique_ptr<MessagePortRunLoopSource> source_;
    // The last status record answered and its reply bytes.
    std::optional<AudioStatus> lastStatus_;
    std::string lastReply_;
    // The port's context: requests that reach a server already gone are not answered.
    std::shared_ptr<StatusServer*> self_ = std::make_shared<StatusServer*>(this);
};

}  // namespace tessaly
