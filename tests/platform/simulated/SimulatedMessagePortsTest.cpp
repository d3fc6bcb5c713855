// The fault verbs of the in-memory message ports, which the helper's and the setup service's
// tests use to produce every failure a real port can give.

#include <gtest/gtest.h>

#include "simulated/SimulatedMessagePorts.h"

namespace tessaly {
namespace {

const std::string portName = "com.orvanne.tessaly";

class SimulatedMessagePortFaults : public ::testing::Test {
protected:
    void SetUp() override {
        auto creation = ports.createLocal(portName, [this](std::int32_t messageID) {
            ++calls;
            return "reply to " + std::to_string(messageID);
        });
        port = std::move(creation.port);
        source = port->createRunLoopSource();
    }

    MessagePortReply send(std::int32_t messageID) {
        auto remote = ports.createRemote(portName);
        return remote->sendRequest(messageID, 2.0, 2.0);
    }

    SimulatedMessagePorts ports;
    std::unique_ptr<LocalMessagePort> port;
    std::unique_ptr<MessagePortRunLoopSource> source;
    int calls = 0;
};

TEST_F(SimulatedMessagePortFaults, AFailedSendNeverReachesThePortADroppedReplyStillRunsTheCalloutEachOnce) {
    ports.failNextSend(kCFMessagePortSendTimeout);
    EXPECT_EQ(send(1), (MessagePortReply{kCFMessagePortSendTimeout, std::nullopt}));
    EXPECT_EQ(calls, 0);

    ports.dropNextReply();
    EXPECT_EQ(send(2), (MessagePortReply{kCFMessagePortReceiveTimeout, std::nullopt}));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(ports.deliveredCount(), 1);
    EXPECT_EQ(send(3), (MessagePortReply{kCFMessagePortSuccess, "reply to 3"}));
}

TEST_F(SimulatedMessagePortFaults, AFailedCreationIsNotANameInUseAndAFailedSourceLeavesThePortUnanswered) {
    ports.failNextCreateLocal();
    auto failed = ports.createLocal("other", [](std::int32_t) { return "x"; });
    EXPECT_EQ(failed.port, nullptr);
    EXPECT_FALSE(failed.shouldFreeInfo);
    EXPECT_FALSE(ports.isServed("other"));

    auto creation = ports.createLocal("other", [](std::int32_t) { return "x"; });
    ASSERT_NE(creation.port, nullptr);
    ports.failNextRunLoopSource();
    EXPECT_EQ(creation.port->createRunLoopSource(), nullptr);
    EXPECT_TRUE(ports.isServed("other"));
    EXPECT_EQ(ports.createRemote("other")->sendRequest(1, 2.0, 2.0),
              (MessagePortReply{kCFMessagePortReceiveTimeout, std::nullopt}));
}

TEST_F(SimulatedMessagePortFaults, RemoteEndStaysBoundToThePortItFound) {
    auto remote = ports.createRemote(portName);
    source.reset();
    port.reset();
    auto successor = ports.createLocal(portName, [](std::int32_t) { return "successor"; });
    auto successorSource = successor.port->createRunLoopSource();

    EXPECT_EQ(remote->sendRequest(1, 2.0, 2.0), (MessagePortReply{kCFMessagePortIsInvalid, std::nullopt}));
    EXPECT_EQ(send(1), (MessagePortReply{kCFMessagePortSuccess, "successor"}));
}

}  // namespace
}  // namespace tessaly
