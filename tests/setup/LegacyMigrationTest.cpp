#include <gmock/gmock.h>

#include "support/SetupFixture.h"
#include "values/PropertyList.h"

namespace tessaly::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Arguments = std::vector<std::string>;

/// An installation whose legacy agent is loaded and whose legacy helper serves the port.
class LegacyMigration : public SetupFixture {
protected:
    LegacyMigration() {
        installLegacyAgent();
        legacyAgentIsLoaded();
        startHelper();
    }

    Arguments print() const { return {"print", legacyTarget()}; }
    Arguments bootout() const { return {"bootout", legacyTarget()}; }
    Arguments bootstrap() const { return {"bootstrap", "gui/" + std::to_string(uid), paths.legacyAgent()}; }
};

TEST_F(LegacyMigration, LoadedAgentIsBootedOutReplacedAndItsFileRemoved) {
    // The new helper may only start once the old one has let go of the port.
    bool oldHelperGoneAtRegistration = false;
    serviceManagement.onRegister([&] {
        oldHelperGoneAtRegistration = !helperRunning();
        startHelper();
    });

    service.enable();

    EXPECT_TRUE(oldHelperGoneAtRegistration);
    EXPECT_THAT(launchctlCalls(), ElementsAre(print(), bootout()));
    EXPECT_EQ(commands.invocations().front().path, "/bin/launchctl");
    EXPECT_THAT(serviceManagement.calls(), ElementsAre("register com.orvanne.tessaly.agent.plist"));
    EXPECT_FALSE(FileSystem::exists(paths.legacyAgent()));
    EXPECT_THAT(helperRequests, ElementsAre(1));
}

TEST_F(LegacyMigration, OldHelperSlowToLeaveIsWaitedFor) {
    commands.respond(bootout(), {0, ""});
    onSleep = [&](std::size_t count) {
        if (count == 3) stopHelper();
    };

    service.enable();

    EXPECT_THAT(sleeps, ElementsAre(0.1, 0.1, 0.1));
}

TEST_F(LegacyMigration, FailedRegistrationBootstrapsTheLegacyAgentAgain) {
    serviceManagement.failNextRegistration(
        "The operation couldn\u2019t be completed. (SMAppServiceErrorDomain error 1.)");

    EXPECT_EQ(messageOf([&] { service.enable(); }),
              "The operation couldn\u2019t be completed. (SMAppServiceErrorDomain error 1.)");
    EXPECT_THAT(launchctlCalls(), ElementsAre(print(), bootout(), bootstrap()));
    // Nothing was registered, so there was nothing to undo; the agent file is needed for the bootstrap.
    EXPECT_THAT(serviceManagement.calls(), ElementsAre("register com.orvanne.tessaly.agent.plist"));
    EXPECT_TRUE(FileSystem::exists(paths.legacyAgent()));
}

TEST_F(LegacyMigration, HalfDoneRegistrationIsUndoneBeforeTheLegacyAgentReturns) {
    serviceManagement.failNextRegistration("Registration failed.", SMAppServiceStatusRequiresApproval);

    EXPECT_EQ(messageOf([&] { service.enable(); }), "Registration failed.");
    EXPECT_THAT(serviceManagement.calls(), ElementsAre("register com.orvanne.tessaly.agent.plist",
                                                       "unregister com.orvanne.tessaly.agent.plist"));
    EXPECT_EQ(service.registration(), "not-registered");
    EXPECT_THAT(launchctlCalls(), ElementsAre(print(), bootout(), bootstrap()));
}

TEST_F(LegacyMigration, RegistrationThatCannotBeUndoneLeavesTheLegacyAgentOut) {
    serviceManagement.failNextRegistration("Registration failed.", SMAppServiceStatusEnabled);
    serviceManagement.failNextUnregistration("Unregistering failed.");

    EXPECT_EQ(messageOf([&] { service.enable(); }),
              "Registration failed. The new registration could not be rolled back: Unregistering failed.");
    EXPECT_THAT(launchctlCalls(), ElementsAre(print(), bootout()));
}

TEST_F(LegacyMigration, LegacyAgentThatCannotBeRestartedIsReported) {
    serviceManagement.failNextRegistration("Registration failed.");
    commands.respond(bootstrap(), {5, "Bootstrap failed: 5: Input/output error\n"});

    EXPECT_EQ(
        messageOf([&] { service.enable(); }),
        "Registration failed. The previous helper could not be restarted: launchctl bootstrap failed: Bootstrap failed: 5: Input/output error");
}

TEST_F(LegacyMigration, RegistrationStateRefusalIsRolledBackToo) {
    serviceManagement.setStatus(SMAppServiceStatusRequiresApproval);

    EXPECT_EQ(messageOf([&] { service.enable(); }),
              "Allow Tessaly in General > Login Items & Extensions before enabling audio memory.");
    // Registered before the call: the registration is the user's, only the legacy agent comes back.
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
    EXPECT_THAT(launchctlCalls(), ElementsAre(print(), bootout(), bootstrap()));
}

TEST_F(LegacyMigration, LegacyAgentFileThatCannotBeRemovedFailsWithoutRollback) {
    serviceManagement.onRegister([&] {
        // Swapped for a folder after it was recognised: unlink refuses it.
        FileSystem::removeFile(paths.legacyAgent());
        FileSystem::createDirectories(paths.legacyAgent(), 0700);
        startHelper();
    });

    const std::string message = messageOf([&] { service.enable(); });

    EXPECT_THAT(message, ::testing::StartsWith("Removing \u201C" + paths.legacyAgent() + "\u201D failed: "));
    EXPECT_THAT(launchctlCalls(), ElementsAre(print(), bootout()));
    EXPECT_EQ(service.registration(), "enabled");
}

TEST_F(LegacyMigration, FailedBootoutChangesNothing) {
    commands.respond(bootout(), {3, "Boot-out failed: 3: No such process"});

    EXPECT_EQ(messageOf([&] { service.enable(); }),
              "launchctl bootout failed: Boot-out failed: 3: No such process");
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
    EXPECT_TRUE(FileSystem::exists(paths.legacyAgent()));
}

TEST_F(LegacyMigration, LaunchctlThatCannotBeLaunchedPassesItsErrorThrough) {
    commands.failLaunching(ENOENT);

    EXPECT_EQ(messageOf([&] { service.enable(); }),
              "Launching \u201C/bin/launchctl\u201D failed: No such file or directory.");
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
}

TEST_F(LegacyMigration, UnrecognisedLegacyAgentStopsEverything) {
    const CFDictionary agent{{"Label", "com.orvanne.tessaly"},
                             {"ProgramArguments", CFArray{"/usr/local/bin/something-else", "run"}}};
    writeFile(paths.legacyAgent(), PropertyList::writeXml(agent));

    EXPECT_EQ(messageOf([&] { service.enable(); }),
              "An unrecognized launch agent was left untouched at " + paths.legacyAgent() + ".");
    EXPECT_THAT(commands.invocations(), IsEmpty());
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
}

class LegacyAgentInspection : public SetupFixture {
protected:
    LegacyAgentInspection() { installLegacyAgent(); }
};

TEST_F(LegacyAgentInspection, ServiceLaunchdCannotFindCountsAsNotLoaded) {
    legacyAgentIsNotLoaded();

    service.enable();

    EXPECT_THAT(launchctlCalls(), ElementsAre(Arguments{"print", legacyTarget()}));
    EXPECT_THAT(serviceManagement.calls(), ElementsAre("register com.orvanne.tessaly.agent.plist"));
    EXPECT_FALSE(FileSystem::exists(paths.legacyAgent()));
}

TEST_F(LegacyAgentInspection, NotLoadedAgentStillWaitsForAHelperToLeave) {
    legacyAgentIsNotLoaded();
    startHelper();
    onSleep = [&](std::size_t count) {
        if (count == 2) stopHelper();
    };

    service.enable();

    EXPECT_THAT(sleeps, ElementsAre(0.1, 0.1));
}

TEST_F(LegacyAgentInspection, FailedRegistrationOfAnUnloadedAgentOnlyUndoesTheRegistration) {
    legacyAgentIsNotLoaded();
    serviceManagement.failNextRegistration("Registration failed.", SMAppServiceStatusEnabled);

    EXPECT_EQ(messageOf([&] { service.enable(); }), "Registration failed.");
    EXPECT_THAT(serviceManagement.calls(), ElementsAre("register com.orvanne.tessaly.agent.plist",
                                                       "unregister com.orvanne.tessaly.agent.plist"));
    // It was not running before, so it is not started now.
    EXPECT_THAT(launchctlCalls(), ElementsAre(Arguments{"print", legacyTarget()}));
}

TEST_F(LegacyAgentInspection, OtherPrintFailureIsReportedWithTrimmedOutput) {
    commands.respond({"print", legacyTarget()}, {64, "\u2028\n  Unrecognized target specifier.\u00A0\r\n\t"});

    EXPECT_EQ(messageOf([&] { service.enable(); }),
              "Cannot inspect the previous launch agent: Unrecognized target specifier.");
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
}

TEST_F(LegacyAgentInspection, OutputThatIsNotUTF8IsRepaired) {
    commands.respond({"print", legacyTarget()}, {1, "bad \xFF byte \xC0\xAF\xC3"});

    EXPECT_EQ(messageOf([&] { service.enable(); }),
              "Cannot inspect the previous launch agent: bad \uFFFD byte \uFFFD\uFFFD\uFFFD");
}

class StoppedHelperWait : public SetupFixture {};

TEST_F(StoppedHelperWait, HelperThatNeverStopsEndsTheWaitAfterFiftyProbes) {
    installLegacyAgent();
    legacyAgentIsLoaded();
    commands.respond({"bootout", legacyTarget()}, {0, ""});
    startHelper();

    EXPECT_EQ(messageOf([&] { service.enable(); }),
              "The previous helper is still running. No replacement was started.");
    EXPECT_EQ(sleeps.size(), 50u);
    EXPECT_THAT(sleeps, ::testing::Each(0.1));
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
    // The bootout succeeded, so the agent is loaded again: the failed step changed nothing.
    EXPECT_THAT(launchctlCalls(),
                ElementsAre(Arguments{"print", legacyTarget()}, Arguments{"bootout", legacyTarget()},
                            Arguments{"bootstrap", "gui/" + std::to_string(uid), paths.legacyAgent()}));
}

TEST_F(LegacyAgentInspection, AnUnloadedAgentBesideTheEnabledLoginItemsHelperIsNotWaitedFor) {
    legacyAgentIsNotLoaded();
    serviceManagement.setStatus(SMAppServiceStatusEnabled);
    startHelper();

    service.enable();

    EXPECT_THAT(sleeps, IsEmpty());
    EXPECT_FALSE(FileSystem::exists(paths.legacyAgent()));
}

}  // namespace
}  // namespace tessaly::testing
