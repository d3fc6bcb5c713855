#include "service/StatusServer.h"

#include <cassert>
#include <exception>

#include "foundation/TessalyError.h"
#include "service/ServiceRequest.h"
#include "service/StatusReply.h"

namespace tessaly {

namespace {
constexpr const char* logCategory = "mute";
}

void StatusServer::open(const std::string& name, Handlers handlers) {
    handlers_ = std::move(handlers);
    auto creation = ports_.createLocal(
        name,
        [weak = std::weak_ptr<StatusServer*>(self_)](std::int32_t messageID) -> std::optional<std::string> {
            auto self = weak.lock();
            if (!self) return std::nullopt;
            return (*self)->handle(messageID);
        });
    if (!creation.port || creation.shouldFreeInfo) {
        throw TessalyError("Another Tessaly helper is already running, or its status port is unavailable.");
    }
    port_ = std::move(creation.port);
    source_ = port_->createRunLoopSource();
    if (!source_) throw TessalyError("Cannot create the local Tessaly status service.");
}

void StatusServer::close() {
    source_.reset();
    if (port_) port_->invalidate();
    port_.reset();
}

std::optional<std::string> StatusServer::handle(std::int32_t messageID) {
    assert(runLoop_.isMainThread());
    switch (static_cast<ServiceRequest>(messageID)) {
        case ServiceRequest::status:
            try {
                AudioStatus status = handlers_.status();
                // The setup window asks every 2 s and the record seldom changes between two asks.
                if (status != lastStatus_) {
                    lastReply_ = StatusReply{status, std::nullopt}.encode();
                    lastStatus_ = std::move(status);
                }
                return lastReply_;
            } catch (const std::exception& error) {
                log_.write(logCategory, LogLevel::error, std::string("Status check failed: ") + error.what());
                return StatusReply{std::nullopt, std::string(error.what())}.encode();
            }
        case ServiceRequest::stop:
            // The reply goes out before the loop ends.
            runLoop_.post([&runLoop = runLoop_] { runLoop.stop(); });
            return std::string("stopping");
        case ServiceRequest::flush:
            return handlers_.flush().value_or("flushed");
    }
    log_.write(logCategory, LogLevel::error,
               "Rejected an unknown local request: " + std::to_string(messageID) + ".");
    return std::nullopt;
}

}  // namespace tessaly
