#include <gmock/gmock.h>

#include <functional>

#include "SetupFixture.h"

namespace tessaly::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Arguments = std::vector<std::string>;

/// An enabled login item whose helper runs.
class Disable : public SetupFixture {
protected:
    Disable() {
        serviceManagement.setStatus(SMAppServiceStatusEnabled);
        startHelper();
    }
};

TEST_F(Disable, SavesTheChoiceBeforeUnregisteringThenWaitsForTheHelperToLeave) {
    std::vector<std::int32_t> requestsBeforeUnregistering;
    serviceManagement.onUnregister([&] { requestsBeforeUnregistering = helperRequests; });
    onSleep = [&](std::size_t count) {
        if (count == 2) stopHelper();
    };

    service.disable();

    EXPECT_THAT(requestsBeforeUnregistering, ElementsAre(3));
    EXPECT_THAT(serviceManagement.calls(), ElementsAre("unregister com.orvanne.tessaly.agent.plist"));
    EXPECT_THAT(sleeps, ElementsAre(0.1, 0.1));
    EXPECT_EQ(service.registration(), "not-registered");
}

TEST_F(Disable, ItemAwaitingApprovalIsUnregisteredToo) {
    serviceManagement.setStatus(SMAppServiceStatusRequiresApproval);
    stopHelper();

    service.disable();

    EXPECT_THAT(serviceManagement.calls(), ElementsAre("unregister com.orvanne.tessaly.agent.plist"));
    EXPECT_THAT(helperRequests, IsEmpty());
}

TEST_F(Disable, AnUnconfirmedSaveKeepsTheItemRegisteredAndAnUnregisteringErrorPassesThrough) {
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { flushReply = "The latest audio choice could not be saved."; },
         "The latest audio choice could not be saved."},
        {[&] { ports.dropNextReply(); }, "The Tessaly helper did not answer the local request (status -2)."},
        // The helper saved the choice, but the item cannot be unregistered.
        {[&] {
             flushReply = "flushed";
             serviceManagement.failNextUnregistration("Operation not permitted");
         },
         "Operation not permitted"},
    };
    for (const auto& [fail, message] : cases) {
        fail();
        EXPECT_EQ(messageOf([&] { service.disable(); }), message);
        EXPECT_EQ(service.registration(), "enabled");
        EXPECT_TRUE(helperRunning());
        EXPECT_THAT(sleeps, IsEmpty());
    }
    EXPECT_THAT(serviceManagement.calls(), ElementsAre("unregister com.orvanne.tessaly.agent.plist"));
}

TEST_F(Disable, NothingRegisteredStillWaitsForThePortToDisappearAndFailsWhenAHelperStays) {
    serviceManagement.setStatus(SMAppServiceStatusNotRegistered);
    EXPECT_EQ(messageOf([&] { service.disable(); }),
              "The previous helper is still running. No replacement was started.");
    EXPECT_EQ(sleeps, std::vector(50, 0.1));

    sleeps.clear();
    onSleep = [&](std::size_t count) {
        if (count == 3) stopHelper();
    };
    service.disable();

    EXPECT_THAT(sleeps, ElementsAre(0.1, 0.1, 0.1));
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
    EXPECT_THAT(helperRequests, IsEmpty());
}

TEST_F(Disable, LegacyAgentIsDisabledAndBootedOutButItsFileStaysUnlessLaunchdCannotDisableIt) {
    installLegacyAgent();
    commands.respond({"disable", legacyTarget()},
                     {1, "Could not disable service: 1: Operation not permitted\n"});
    EXPECT_EQ(messageOf([&] { service.disable(); }),
              "launchctl disable failed: Could not disable service: 1: Operation not permitted");
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
    EXPECT_TRUE(helperRunning());

    commands.respond({"disable", legacyTarget()}, {0, ""});
    const auto before = static_cast<long>(launchctlCalls().size());
    legacyAgentIsLoaded();
    serviceManagement.setStatus(SMAppServiceStatusNotRegistered);

    service.disable();

    const auto calls = launchctlCalls();
    EXPECT_THAT(std::vector(calls.begin() + before, calls.end()),
                ElementsAre(Arguments{"disable", legacyTarget()}, Arguments{"print", legacyTarget()},
                            Arguments{"bootout", legacyTarget()}));
    EXPECT_TRUE(FileSystem::exists(paths.legacyAgent()));
    EXPECT_FALSE(helperRunning());
}

class Restart : public SetupFixture {};

TEST_F(Restart, UnregistersThenRegistersAgainButNotAfterAFailedDisable) {
    serviceManagement.setStatus(SMAppServiceStatusEnabled);
    startHelper();
    flushReply = "";
    EXPECT_EQ(messageOf([&] { service.restart(); }),
              "The helper did not confirm that the audio choice was saved.");
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());

    flushReply = "flushed";
    service.restart();

    EXPECT_THAT(serviceManagement.calls(), ElementsAre("unregister com.orvanne.tessaly.agent.plist",
                                                       "register com.orvanne.tessaly.agent.plist"));
    EXPECT_TRUE(helperRunning());
}

}  // namespace
}  // namespace tessaly::testing
