// The message-port contract, written once and run against the in-memory ports of the virtual-time
// tests, the Mac adapter over the stand-in Core Foundation that routes into them (every reference
// given back by the end of each test), and the Unix-domain socket ports of the helper. On sockets the
// server runs on a real loop on a background thread while the test's thread is the blocking client.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "mac/MacMessagePorts.h"
#include "mac/standin/MacStandin.h"
#include "platform/mac/BalancedReferences.h"
#include "platform/posix/MessagePortsFixture.h"

namespace tessaly {
namespace {

using testing::failure;
using testing::PortsHarness;
using testing::PosixHarness;
using testing::receiveTimeout;
using testing::sendTimeout;
using testing::success;

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

struct Implementation {
    std::string name;
    std::function<std::unique_ptr<PortsHarness>()> make;
};

// Names the implementation in test listings instead of dumping its bytes.
void PrintTo(const Implementation& implementation, std::ostream* out) {
    *out << implementation.name;
}

// For requests that must not be answered: the wait that proves it.
constexpr double unansweredTimeout = 0.2;

const std::string portName = "com.orvanne.tessaly.contract";

class MessagePortsContract : public testing::MessagePortsFixture,
                             public ::testing::WithParamInterface<Implementation> {
protected:
    MessagePortsContract() : MessagePortsFixture(portName), owned_(GetParam().make()) {
        harness_ = owned_.get();
    }
    // The Mac adapter's harness checks the reference balance as it ends.
    void TearDown() override {
        MessagePortsFixture::TearDown();
        owned_.reset();
    }

    MessagePorts& ports() { return owned_->ports(); }
    SimulatedMessagePorts* simulated() { return owned_->simulated(); }
    void onServer(const std::function<void()>& work) { owned_->onServer(work); }

private:
    std::unique_ptr<PortsHarness> owned_;
};

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

// No reply reaches the client as no data, or as zero bytes (a callout's NULL on a Mac): never as bytes.
TEST_P(MessagePortsContract, ReplyBytesArriveUnchangedAndNoReplyArrivesAsNoBytes) {
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

    for (const std::int32_t unanswered : {3, 4}) {
        const auto reply = send(unanswered);
        EXPECT_EQ(reply.status, kCFMessagePortSuccess);
        EXPECT_EQ(reply.data.value_or(std::string()), "") << unanswered;
    }
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
