// The message-port contract, written once and run against the in-memory ports of the virtual-time
// tests, the Mac adapter over the stand-in Core Foundation that routes into them (every reference
// given back by the end of each test), and the Unix-domain socket ports of the helper. On sockets the
// server runs on a real loop on a background thread while the test's thread is the blocking client.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "mac/MacMessagePorts.h"
#include "mac/standin/MacStandin.h"
#include "platform/mac/BalancedReferences.h"
#include "platform/posix/LoopThread.h"
#include "platform/posix/TemporaryRuntimeDirectory.h"
#include "posix/PosixMessagePorts.h"
#include "simulated/SimulatedMessagePorts.h"
#include "support/CapturingLog.h"

namespace tessaly {
namespace {

using testing::CapturingLog;
using testing::LoopThread;
using testing::TemporaryRuntimeDirectory;

class PortsHarness {
public:
    virtual ~PortsHarness() = default;
    virtual MessagePorts& ports() = 0;
    /// Runs `work` where the servers live and waits for it.
    virtual void onServer(const std::function<void()>& work) = 0;
    /// The in-memory ports behind the ones asked, when they live in the test's process.
    virtual SimulatedMessagePorts* simulated() { return nullptr; }
};

class SimulatedHarness : public PortsHarness {
public:
    MessagePorts& ports() override { return simulated_; }
    void onServer(const std::function<void()>& work) override { work(); }
    SimulatedMessagePorts* simulated() override { return &simulated_; }

protected:
    SimulatedMessagePorts simulated_;
};

class MacAdapterHarness : public SimulatedHarness {
public:
    MacAdapterHarness() {
        MacStandin::resetReferenceCounts();
        MacStandin::routeMessagePorts(&simulated_);
        adapter_ = std::make_unique<MacMessagePorts>();
    }
    ~MacAdapterHarness() override {
        adapter_.reset();
        testing::expectBalancedReferences();
        MacStandin::routeMessagePorts(nullptr);
    }
    MessagePorts& ports() override { return *adapter_; }

private:
    std::unique_ptr<MacMessagePorts> adapter_;
};

class PosixHarness : public PortsHarness {
public:
    MessagePorts& ports() override { return ports_; }
    void onServer(const std::function<void()>& work) override { loopThread_.call(work); }

private:
    TemporaryRuntimeDirectory directory_;
    CapturingLog log_;
    LoopThread loopThread_;
    PosixMessagePorts ports_{RuntimeDirectory::forCurrentUser(), loopThread_.loop(), log_};
};

struct Implementation {
    std::string name;
    std::function<std::unique_ptr<PortsHarness>()> make;
};

// Names the implementation in test listings instead of dumping its bytes.
void PrintTo(const Implementation& implementation, std::ostream* out) {
    *out << implementation.name;
}

// Short enough to keep the suite quick, long enough that a served request always beats them.
constexpr double sendTimeout = 2.0;
constexpr double receiveTimeout = 2.0;
// For requests that must not be answered: the wait that proves it.
constexpr double unansweredTimeout = 0.2;

const std::string portName = "com.orvanne.tessaly.contract";

class MessagePortsContract : public ::testing::TestWithParam<Implementation> {
protected:
    void SetUp() override { harness_ = GetParam().make(); }

    void TearDown() override {
        harness_->onServer([this] {
            sources_.clear();
            locals_.clear();
        });
        harness_.reset();
    }

    MessagePorts& ports() { return harness_->ports(); }
    SimulatedMessagePorts* simulated() { return harness_->simulated(); }

    // A served port whose callout records each message id and answers with `reply`.
    LocalMessagePort* serve(const std::string& name,
                            std::function<std::optional<std::string>(std::int32_t)> reply,
                            bool attach = true) {
        LocalMessagePort* port = nullptr;
        harness_->onServer([&] {
            auto creation = ports().createLocal(name, [this, reply](std::int32_t messageID) {
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

    LocalMessagePort* serveEcho(const std::string& name = portName) {
        return serve(name, [](std::int32_t messageID) { return "reply to " + std::to_string(messageID); });
    }

    MessagePorts::LocalPortCreation createLocalOnServer(const std::string& name) {
        MessagePorts::LocalPortCreation creation;
        harness_->onServer(
            [&] { creation = ports().createLocal(name, [](std::int32_t) { return "second"; }); });
        return creation;
    }

    void onServer(const std::function<void()>& work) { harness_->onServer(work); }

    MessagePortReply send(std::int32_t messageID, const std::string& name = portName) {
        auto remote = ports().createRemote(name);
        if (!remote) return {kCFMessagePortIsInvalid, std::string("no remote end")};
        return remote->sendRequest(messageID, sendTimeout, receiveTimeout);
    }

    std::vector<std::int32_t> received() {
        std::lock_guard guard(mutex_);
        return received_;
    }

    std::vector<std::unique_ptr<MessagePortRunLoopSource>> sources_;
    std::vector<std::unique_ptr<LocalMessagePort>> locals_;

private:
    void record(std::int32_t messageID) {
        std::lock_guard guard(mutex_);
        received_.push_back(messageID);
    }

    std::unique_ptr<PortsHarness> harness_;
    std::mutex mutex_;
    std::vector<std::int32_t> received_;
};

MessagePortReply success(std::optional<std::string> data) {
    return {kCFMessagePortSuccess, std::move(data)};
}
MessagePortReply failure(std::int32_t status) {
    return {status, std::nullopt};
}

TEST_P(MessagePortsContract, EachRequestGetsItsReplyFromTheOnePortOfItsNameUntilTheRemoteEndIsInvalidated) {
    ASSERT_NE(serveEcho(), nullptr);
    const auto second = createLocalOnServer(portName);
    EXPECT_EQ(second.port, nullptr);
    EXPECT_TRUE(second.shouldFreeInfo);
    auto remote = ports().createRemote(portName);
    ASSERT_NE(remote, nullptr);

    for (const std::int32_t messageID : {1, -2, std::numeric_limits<std::int32_t>::max()}) {
        EXPECT_EQ(remote->sendRequest(messageID, sendTimeout, receiveTimeout),
                  success("reply to " + std::to_string(messageID)));
    }
    remote->invalidate();
    EXPECT_EQ(remote->sendRequest(1, sendTimeout, receiveTimeout), failure(kCFMessagePortIsInvalid));
    EXPECT_EQ(received(), (std::vector<std::int32_t>{1, -2, std::numeric_limits<std::int32_t>::max()}));
}

TEST_P(MessagePortsContract, ReplyBytesArriveUnchangedAndNoReplyDiffersFromAnEmptyOne) {
    std::string bytes;
    for (int index = 0; index < 300'000; ++index) bytes.push_back(static_cast<char>(index * 7));
    bytes[10] = '\0';
    ASSERT_NE(serve(portName,
                    [&bytes](std::int32_t messageID) -> std::optional<std::string> {
                        if (messageID == 4) return std::nullopt;
                        if (messageID == 3) return std::string();
                        return bytes;
                    }),
              nullptr);

    EXPECT_EQ(send(4), success(std::nullopt));
    EXPECT_EQ(send(3), success(std::string()));
    const auto reply = send(1);
    EXPECT_EQ(reply.status, kCFMessagePortSuccess);
    EXPECT_TRUE(reply.data == bytes) << "the reply's bytes differ";
}

TEST_P(MessagePortsContract, InvalidatedOrDestroyedPortIsGoneAndItsNameFree) {
    const std::pair<std::string, std::function<void(LocalMessagePort&)>> endings[] = {
        {"invalidated",
         [](LocalMessagePort& port) {
             port.invalidate();
             EXPECT_FALSE(port.isValid());
         }},
        {"destroyed",
         [this](LocalMessagePort&) {
             sources_.clear();
             locals_.clear();
         }},
    };
    for (const auto& [how, end] : endings) {
        EXPECT_EQ(ports().createRemote(portName), nullptr) << "before the port was served";
        auto* port = serve(portName, [](std::int32_t) { return "first"; });
        ASSERT_NE(port, nullptr);
        EXPECT_TRUE(port->isValid());
        auto remote = ports().createRemote(portName);
        ASSERT_NE(remote, nullptr);

        onServer([&] { end(*port); });

        EXPECT_EQ(ports().createRemote(portName), nullptr) << how;
        EXPECT_EQ(remote->sendRequest(1, sendTimeout, receiveTimeout), failure(kCFMessagePortIsInvalid))
            << how;
        ASSERT_NE(serve(portName, [](std::int32_t) { return "second"; }), nullptr) << how;
        EXPECT_EQ(send(2), success("second")) << how;
        onServer([&] {
            sources_.clear();
            locals_.clear();
        });
    }
    EXPECT_EQ(received(), (std::vector<std::int32_t>{2, 2}));
}

TEST_P(MessagePortsContract, PortAnswersOnlyWhileItHasARunLoopSource) {
    const std::string unattached = portName + ".unattached";
    ASSERT_NE(serve(
                  unattached, [](std::int32_t) { return "answer"; }, false),
              nullptr);
    ASSERT_NE(serveEcho(), nullptr);
    ASSERT_EQ(send(1), success("reply to 1"));

    onServer([&] { sources_.clear(); });

    for (const auto& name : {unattached, portName}) {
        auto remote = ports().createRemote(name);
        ASSERT_NE(remote, nullptr) << name;
        EXPECT_EQ(remote->sendRequest(2, sendTimeout, unansweredTimeout),
                  failure(kCFMessagePortReceiveTimeout))
            << name;
    }
    EXPECT_EQ(received(), std::vector<std::int32_t>{1});
}

/// Failures injected into the in-memory ports, for the routes in the test's process.
class InProcessMessagePortsContract : public MessagePortsContract {};

TEST_P(InProcessMessagePortsContract,
       AFailedSendNeverReachesThePortADroppedReplyStillRunsTheCalloutEachOnce) {
    ASSERT_NE(serveEcho(), nullptr);
    simulated()->failNextSend(kCFMessagePortSendTimeout);
    EXPECT_EQ(send(1), failure(kCFMessagePortSendTimeout));
    EXPECT_TRUE(received().empty());

    simulated()->dropNextReply();
    EXPECT_EQ(send(2), failure(kCFMessagePortReceiveTimeout));
    EXPECT_EQ(received(), std::vector<std::int32_t>{2});
    EXPECT_EQ(simulated()->deliveredCount(), 1);
    EXPECT_EQ(send(3), success("reply to 3"));
}

TEST_P(InProcessMessagePortsContract, AFailedCreationIsNotANameInUseAndAFailedSourceLeavesThePortUnanswered) {
    simulated()->failNextCreateLocal();
    const auto failed = createLocalOnServer(portName);
    EXPECT_EQ(failed.port, nullptr);
    EXPECT_FALSE(failed.shouldFreeInfo);
    EXPECT_FALSE(simulated()->isServed(portName));

    simulated()->failNextRunLoopSource();
    ASSERT_NE(serveEcho(), nullptr);
    EXPECT_EQ(sources_.back(), nullptr);
    EXPECT_TRUE(simulated()->isServed(portName));
    EXPECT_EQ(send(1), failure(kCFMessagePortReceiveTimeout));
}

// In memory, as on a Mac, a remote end is bound to the port it found; on sockets it reaches whichever
// server holds the name when it sends.
TEST_P(InProcessMessagePortsContract, ARemoteEndStaysBoundToThePortItFound) {
    ASSERT_NE(serveEcho(), nullptr);
    auto remote = ports().createRemote(portName);
    onServer([&] {
        sources_.clear();
        locals_.clear();
    });
    ASSERT_NE(serve(portName, [](std::int32_t) { return "successor"; }), nullptr);
    EXPECT_EQ(remote->sendRequest(1, sendTimeout, receiveTimeout), failure(kCFMessagePortIsInvalid));
    EXPECT_EQ(send(1), success("successor"));
}

const Implementation simulatedPorts{"Simulated", [] { return std::make_unique<SimulatedHarness>(); }};
const Implementation macAdapter{"MacAdapter", [] { return std::make_unique<MacAdapterHarness>(); }};
const Implementation posixPorts{"Posix", [] { return std::make_unique<PosixHarness>(); }};

std::string implementationName(const ::testing::TestParamInfo<Implementation>& parameter) {
    return parameter.param.name;
}

INSTANTIATE_TEST_SUITE_P(, MessagePortsContract, ::testing::Values(simulatedPorts, macAdapter, posixPorts),
                         implementationName);
INSTANTIATE_TEST_SUITE_P(, InProcessMessagePortsContract, ::testing::Values(simulatedPorts, macAdapter),
                         implementationName);

}  // namespace
}  // namespace tessaly
