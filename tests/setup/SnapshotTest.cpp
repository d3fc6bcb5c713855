#include <gmock/gmock.h>

#include <functional>
#include <optional>

#include "SetupFixture.h"
#include "foundation/Version.h"
#include "values/PropertyList.h"

namespace tessaly::testing {
namespace {

using ::testing::Optional;

class Snapshot : public SetupFixture {
protected:
    void writeUnrecognisedLegacyAgent() const {
        const CFDictionary agent{{"Label", "com.example.other"},
                                 {"ProgramArguments", CFArray{paths.legacySupportHelper(), "run"}}};
        writeFile(paths.legacyAgent(), PropertyList::writeXml(agent));
    }
};

TEST_F(Snapshot, FreshInstallationHasNothingToReportAndShowsTheApplicationsOwnTrustAndSavedVolume) {
    const SetupSnapshot snapshot = service.snapshot();

    EXPECT_EQ(snapshot.version, version);
    EXPECT_TRUE(snapshot.installed);
    EXPECT_TRUE(snapshot.accessibilityTrusted);
    EXPECT_EQ(snapshot.registration, "not-registered");
    EXPECT_FALSE(snapshot.legacyInstallation);
    EXPECT_THAT(snapshot.volume, Optional(0.0));
    EXPECT_FALSE(snapshot.helper);
    EXPECT_FALSE(snapshot.error);

    // Without a helper, the application's own trust and the saved volume are shown.
    desktop.revokeTrust();
    storeChoice(0.3, 0.3);
    EXPECT_FALSE(service.snapshot().accessibilityTrusted);
    EXPECT_THAT(service.snapshot().volume, Optional(0.3));
}

TEST_F(Snapshot, RegisteredButSilentHelperAsksForARestartUnlessTheItemAwaitsApproval) {
    serviceManagement.setStatus(SMAppServiceStatusEnabled);
    storeChoice(0, 0.6);

    const SetupSnapshot snapshot = service.snapshot();

    EXPECT_THAT(snapshot.error,
                Optional(std::string(
                    "The login helper is registered but has not answered. Choose Restart Audio Memory.")));
    EXPECT_FALSE(snapshot.helper);
    EXPECT_THAT(snapshot.volume, Optional(0.0));
    EXPECT_EQ(snapshot.registration, "enabled");

    // An item awaiting approval without a helper is no problem yet.
    serviceManagement.setStatus(SMAppServiceStatusRequiresApproval);
    EXPECT_FALSE(service.snapshot().error);
}

TEST_F(
    Snapshot,
    HealthyHelperReportsItsOwnVolumeAnUntrustedOneOutweighsTheApplicationsTrustAndAnOlderOneIsNotValidated) {
    serviceManagement.setStatus(SMAppServiceStatusEnabled);
    startHelper();
    storeChoice(0.9, 0.9);

    const SetupSnapshot snapshot = service.snapshot();

    EXPECT_EQ(snapshot.helper, helperStatus);
    EXPECT_THAT(snapshot.volume, Optional(0.5));
    EXPECT_FALSE(snapshot.error);

    // An untrusted helper outweighs the application's own trust.
    helperStatus.accessibilityTrusted = false;
    const SetupSnapshot untrusted = service.snapshot();
    EXPECT_FALSE(untrusted.accessibilityTrusted);
    EXPECT_THAT(untrusted.error,
                Optional(std::string("Open Tessaly and allow Accessibility to finish setup.")));
    EXPECT_TRUE(untrusted.helper);

    // An older installation's helper is reported without validation.
    installLegacyAgent();
    helperStatus.version = "1.2.0";
    const SetupSnapshot legacy = service.snapshot();
    EXPECT_TRUE(legacy.legacyInstallation);
    EXPECT_EQ(legacy.helper, helperStatus);
    EXPECT_FALSE(legacy.error);
}

// What ends the checks: the error, and what is still shown beside it.
TEST_F(Snapshot, AnUnansweredHelperABadPreferenceFileOrAnUnrecognisedLegacyAgentIsTheError) {
    const struct {
        std::function<void()> cause;
        std::string error;
        std::optional<double> volume;
    } cases[] = {
        {[&] {
             storeChoice(0.4, 0.4);
             ports.dropNextReply();
         },
         "The Tessaly helper did not answer the local request (status -2).", 0.4},
        // Before the legacy agent is looked at, and without asking the helper.
        {[&] {
             writeFile(audioFile, std::string(4097, ' '));
             writeUnrecognisedLegacyAgent();
         },
         "The saved audio preference is not a regular, small configuration file.", std::nullopt},
        {[&] {
             writeFile(audioFile, R"({"schemaVersion":1,"volume":0.7,"unmutedVolume":0.7})");
             writeUnrecognisedLegacyAgent();
         },
         "An unrecognized launch agent was left untouched at " + paths.legacyAgent() + ".", 0.7},
    };
    startHelper();
    for (const auto& check : cases) {
        check.cause();
        const SetupSnapshot snapshot = service.snapshot();
        EXPECT_THAT(snapshot.error, Optional(check.error));
        EXPECT_EQ(snapshot.volume, check.volume) << check.error;
        EXPECT_FALSE(snapshot.legacyInstallation) << check.error;
        EXPECT_FALSE(snapshot.helper) << check.error;
    }
    EXPECT_EQ(helperRequests.size(), 1u);  // the unanswered one
}

}  // namespace
}  // namespace tessaly::testing
