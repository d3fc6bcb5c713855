// Message ports as the status port uses them, asked of the in-memory ports directly and of the Mac
// adapter over the stand-in Core Foundation that routes into the same ports.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "BalancedReferences.h"
#include "mac/MacMessagePorts.h"
#include "mac/standin/MacStandin.h"
#include "simulated/SimulatedMessagePorts.h"

namespace tessaly {
namespace {

using testing::Route;

constexpr char name[] = "com.orvanne.tessaly";

class MessagePortsContract : public ::testing::TestWithParam<Route> {
protected:
    void SetUp() override {
        if (GetParam() == Route::simulation) return;
        MacStandin::resetReferenceCounts();
        MacStandin::routeMessagePorts(&simulated);
        adapter = std::make_unique<MacMessagePorts>();
    }
    void TearDown() override {
        if (GetParam() == Route::simulation) return;
        adapter.reset();
        testing::expectBalancedReferences();
        MacStandin::routeMessagePorts(nullptr);
    }

    MessagePorts& ports() { return adapter ? static_cast<MessagePorts&>(*adapter) : simulated; }

    MessagePorts::LocalPortCreation serve() {
        return ports().createLocal(name, [](std::int32_t messageID) -> std::optional<std::string> {
            if (messageID == 0) return std::nullopt;
            return "reply " + std::to_string(messageID) + std::string(1, '\0');
        });
    }

    SimulatedMessagePorts simulated;
    std::unique_ptr<MacMessagePorts> adapter;
};

TEST_P(MessagePortsContract, ALocalPortAnswersThroughItsSourceAndKeepsItsName) {
    auto local = serve();
    ASSERT_TRUE(local.port);
    EXPECT_TRUE(local.port->isValid());
    auto source = local.port->createRunLoopSource();
    ASSERT_TRUE(source);

    auto second = serve();
    EXPECT_FALSE(second.port);
    EXPECT_TRUE(second.shouldFreeInfo);

    auto remote = ports().createRemote(name);
    ASSERT_TRUE(remote);
    EXPECT_EQ(remote->sendRequest(3, 1, 1),
              (MessagePortReply{kCFMessagePortSuccess, std::string("reply 3\0", 8)}));
    EXPECT_EQ(remote->sendRequest(0, 1, 1), (MessagePortReply{kCFMessagePortSuccess, std::nullopt}));

    simulated.failNextSend(kCFMessagePortSendTimeout);
    EXPECT_EQ(remote->sendRequest(3, 1, 1), (MessagePortReply{kCFMessagePortSendTimeout, std::nullopt}));

    source.reset();
    EXPECT_EQ(remote->sendRequest(3, 1, 1).status, kCFMessagePortReceiveTimeout);
    remote->invalidate();
    EXPECT_EQ(remote->sendRequest(3, 1, 1).status, kCFMessagePortIsInvalid);
}

TEST_P(MessagePortsContract, AnInvalidatedPortGivesUpItsName) {
    EXPECT_FALSE(ports().createRemote(name));
    auto local = serve();
    ASSERT_TRUE(local.port);
    local.port->invalidate();
    EXPECT_FALSE(local.port->isValid());
    EXPECT_FALSE(ports().createRemote(name));
    local.port.reset();
    EXPECT_TRUE(serve().port);

    simulated.failNextCreateLocal();
    auto failed = ports().createLocal("com.orvanne.tessaly.other", [](std::int32_t) { return std::nullopt; });
    EXPECT_FALSE(failed.port);
    EXPECT_FALSE(failed.shouldFreeInfo);
}

INSTANTIATE_TEST_SUITE_P(, MessagePortsContract, ::testing::Values(Route::simulation, Route::macAdapter),
                         testing::routeName);

}  // namespace
}  // namespace tessaly
