#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "LoopThread.h"
#include "TemporaryRuntimeDirectory.h"
#include "posix/PosixMessagePorts.h"
#include "simulated/SimulatedMessagePorts.h"
#include "support/CapturingLog.h"

namespace tessaly::testing {

// Short enough to keep the suites quick, long enough that a served request always beats them.
inline constexpr double sendTimeout = 2.0;
inline constexpr double receiveTimeout = 2.0;

inline MessagePortReply success(std::optional<std::string> data) {
    return {kCFMessagePortSuccess, std::move(data)};
}
inline MessagePortReply failure(std::int32_t status) {
    return {status, std::nullopt};
}

/// Where the message ports under test live.
class PortsHarness {
public:
    virtual ~PortsHarness() = default;
    virtual MessagePorts& ports() = 0;
    /// Runs `work` where the servers live and waits for it.
    virtual void onServer(const std::function<void()>& work) = 0;
    /// The in-memory ports behind the ones asked, when they live in the test's process.
    virtual SimulatedMessagePorts* simulated() { return nullptr; }
};

/// The helper's Unix-domain socket ports in a private runtime folder, served on a real loop on a
/// background thread while the test's thread is the blocking client.
class PosixHarness : public PortsHarness {
public:
    MessagePorts& ports() override { return posix; }
    void onServer(const std::function<void()>& work) override { loopThread.call(work); }

    TemporaryRuntimeDirectory directory;
    CapturingLog log;
    LoopThread loopThread;
    PosixMessagePorts posix{RuntimeDirectory::forCurrentUser(), loopThread.loop(), log};
};

/// Serves ports of one name where the harness keeps its servers and asks them from the test's
/// thread; every callout records the message ids it got. What was served ends with the test.
class MessagePortsFixture : public ::testing::Test {
protected:
    explicit MessagePortsFixture(std::string portName) : portName_(std::move(portName)) {}

    void TearDown() override { stopServing(); }

    /// A served port whose callout records each message id and answers with `reply`.
    LocalMessagePort* serve(const std::string& name,
                            std::function<std::optional<std::string>(std::int32_t)> reply,
                            bool attach = true) {
        LocalMessagePort* port = nullptr;
        harness_->onServer([&] {
            auto creation = harness_->ports().createLocal(name, [this, reply](std::int32_t messageID) {
                record(messageID);
                return reply(messageID);
            });
            if (!creation.port) return;
            port = creation.port.get();
            if (attach) sources_.push_back(port->createRunLoopSource());
            locals_.push_back(std::move(creation.port));
        });
        return port;
    }
    LocalMessagePort* serveEcho(const std::string& name) {
        return serve(name, [](std::int32_t messageID) { return "reply to " + std::to_string(messageID); });
    }
    LocalMessagePort* serveEcho() { return serveEcho(portName_); }

    MessagePorts::LocalPortCreation createLocalOnServer(const std::string& name) {
        MessagePorts::LocalPortCreation creation;
        harness_->onServer(
            [&] { creation = harness_->ports().createLocal(name, [](std::int32_t) { return "second"; }); });
        return creation;
    }

    /// Ends every port served so far, and its run-loop source.
    void stopServing() {
        harness_->onServer([this] {
            sources_.clear();
            locals_.clear();
        });
    }

    MessagePortReply send(std::int32_t messageID, double waitForReply = receiveTimeout) {
        auto remote = harness_->ports().createRemote(portName_);
        if (!remote) return {kCFMessagePortIsInvalid, std::string("no remote end")};
        return remote->sendRequest(messageID, sendTimeout, waitForReply);
    }

    std::vector<std::int32_t> received() {
        std::lock_guard guard(mutex_);
        return received_;
    }

    PortsHarness* harness_ = nullptr;
    std::vector<std::unique_ptr<MessagePortRunLoopSource>> sources_;
    std::vector<std::unique_ptr<LocalMessagePort>> locals_;

private:
    void record(std::int32_t messageID) {
        std::lock_guard guard(mutex_);
        received_.push_back(messageID);
    }

    const std::string portName_;
    std::mutex mutex_;
    std::vector<std::int32_t> received_;
};

}  // namespace tessaly::testing
