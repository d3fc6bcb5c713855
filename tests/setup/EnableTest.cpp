#include <gmock/gmock.h>

#include <functional>

#include "SetupFixture.h"
#include "foundation/TessalyError.h"

namespace tessaly::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class Enable : public SetupFixture {};

TEST_F(Enable, AnUnregisteredOrNotFoundItemIsRegisteredAndAHealthyHelperAwaitedAnEnabledOneLeftAsItIs) {
    for (const int status : {SMAppServiceStatusNotRegistered, SMAppServiceStatusNotFound}) {
        serviceManagement.setStatus(status);
        stopHelper();
        helperRequests.clear();

        service.enable();

        EXPECT_EQ(serviceManagement.calls().back(), "register com.orvanne.tessaly.agent.plist");
        EXPECT_EQ(service.registration(), "enabled");
        EXPECT_THAT(helperRequests, ElementsAre(1));
    }
    EXPECT_THAT(sleeps, IsEmpty());
    EXPECT_THAT(commands.invocations(), IsEmpty());

    // Already enabled and healthy: it succeeds without registering again.
    service.enable();
    EXPECT_EQ(serviceManagement.calls().size(), 2u);
    EXPECT_THAT(helperRequests, ElementsAre(1, 1));
}

TEST_F(Enable, AnItemAwaitingApprovalOrInAnUnknownStateIsLeftAlone) {
    const std::pair<int, std::string> cases[] = {
        {SMAppServiceStatusRequiresApproval,
         "Allow Tessaly in General > Login Items & Extensions before enabling audio memory."},
        {7, "macOS returned an unknown login-helper registration state."},
        {-1, "macOS returned an unknown login-helper registration state."},
    };
    for (const auto& [status, message] : cases) {
        serviceManagement.setStatus(status);
        EXPECT_EQ(messageOf([&] { service.enable(); }), message) << status;
    }
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
}

TEST_F(Enable, ARegistrationLeftAwaitingApprovalOrRefusedAsSwitchedOffSaysSoWithoutWaiting) {
    serviceManagement.onRegister({});
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { serviceManagement.setStatusAfterRegistering(SMAppServiceStatusRequiresApproval); },
         "Tessaly needs approval in General > Login Items & Extensions."},
        // The user switched the item off in Login Items settings: recent macOS refuses to register it.
        {[&] { serviceManagement.switchOff(); },
         "Allow Tessaly in General > Login Items & Extensions before enabling audio memory."},
    };
    for (const auto& [fail, message] : cases) {
        serviceManagement.setStatus(SMAppServiceStatusNotRegistered);
        fail();
        EXPECT_EQ(messageOf([&] { service.enable(); }), message);
        // Left registered for the user to approve; nothing was undone and nobody was asked for health.
        EXPECT_EQ(service.registration(), "requires-approval");
    }
    EXPECT_THAT(serviceManagement.calls(), ElementsAre("register com.orvanne.tessaly.agent.plist",
                                                       "register com.orvanne.tessaly.agent.plist"));
    EXPECT_THAT(sleeps, IsEmpty());
}

TEST_F(Enable, RegistrationErrorWithoutLegacyAgentPassesThroughUnchanged) {
    serviceManagement.failNextRegistration("Operation not permitted");

    try {
        service.enable();
        FAIL() << "enable succeeded";
    } catch (const TessalyError&) {
        FAIL() << "the platform's error was wrapped";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "Operation not permitted");
    }
    EXPECT_THAT(commands.invocations(), IsEmpty());
}

class HealthyHelperWait : public SetupFixture {};

TEST_F(HealthyHelperWait,
       AHelperThatNeverGetsHealthyReportsTheLastFailureAfterThirtyRoundsOneThatAnswersBadlyIsAskedAgain) {
    serviceManagement.onRegister({});
    EXPECT_EQ(messageOf([&] { service.enable(); }),
              "Quick Look audio memory is off or unavailable. Open Tessaly to enable it.");
    EXPECT_EQ(sleeps, std::vector(30, 0.2));

    // Silent at first, then up but not trusted: the user must see the later, more useful reason.
    sleeps.clear();
    onSleep = [&](std::size_t count) {
        if (count == 4) {
            helperStatus.accessibilityTrusted = false;
            startHelper();
        }
    };

    EXPECT_EQ(messageOf([&] { service.enable(); }), "Open Tessaly and allow Accessibility to finish setup.");
    EXPECT_EQ(sleeps, std::vector(30, 0.2));
    EXPECT_EQ(helperRequests.size(), 26u);

    // One that answers badly or not at all is asked again.
    sleeps.clear();
    ports.dropNextReply();
    onSleep = [&](std::size_t count) {
        if (count == 2) helperStatus = healthyStatus();
    };
    helperStatus.version = "1.3.0";
    service.enable();
    EXPECT_THAT(sleeps, ElementsAre(0.2, 0.2));
}

}  // namespace
}  // namespace tessaly::testing
