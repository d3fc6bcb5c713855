#include <gmock/gmock.h>

#include "SetupFixture.h"
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

TEST_F(LegacyMigration, AnOldHelperThatDoesNotLeaveWithinFiftyProbesFailsTheStepAndTheAgentIsLoadedAgain) {
    commands.respond(bootout(), {0, ""});
    EXPECT_EQ(messageOf([&] { service.enable(); }),
              "The previous helper is still running. No replacement was started.");
    EXPECT_EQ(sleeps, std::vector(50, 0.1));
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
    // The bootout succeeded, so the agent is loaded again: the failed step changed nothing.
    EXPECT_THAT(launchctlCalls(), ElementsAre(print(), bootout(), bootstrap()));
}

TEST_F(LegacyMigration, BesideAnEnabledLoginItemTheJobIsAwaitedUnlessItsOwnHelperHoldsThePort) {
    serviceManagement.setStatus(SMAppServiceStatusEnabled);
    for (const bool legacyHoldsPort : {false, true}) {
        installLegacyAgent();
        commands.respond(print(),
                         {0, std::string("state = running\n\tpid = ") + (legacyHoldsPort ? "812" : "9")});
        commands.respond(bootout(), {0, ""}, [&] {
            if (legacyHoldsPort) stopHelper();
        });
        onSleep = [&](std::size_t count) {
            if (count == 2) legacyHoldsPort ? startHelper() : legacyAgentIsNotLoaded();
        };
        sleeps.clear();
        const std::size_t before = launchctlCalls().size();

        service.enable();

        // The login item's helper keeps the port: only launchctl can tell that the job ended.
        const auto expected = legacyHoldsPort ? std::vector{print(), bootout()}
                                              : std::vector{print(), bootout(), print(), print(), print()};
        const auto calls = launchctlCalls();
        EXPECT_EQ(std::vector(calls.begin() + static_cast<long>(before), calls.end()), expected);
        EXPECT_EQ(sleeps, std::vector(2, legacyHoldsPort ? 0.2 : 0.1));
        EXPECT_TRUE(helperRunning());
    }
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
}

/// A step of the migration that fails: what the user is told, what launchctl and login items saw.
class LegacyMigrationFailure : public LegacyMigration, public ::testing::WithParamInterface<int> {
protected:
    struct Failure {
        std::function<void()> fail;
        std::string message;
        std::size_t launchctlCalls;  // the first of print, bootout and bootstrap
        std::size_t loginItemCalls;  // the first of register and unregister
    };

    std::vector<Failure> failures() {
        return {
            // Nothing was registered, so nothing is undone; the agent file is kept for the bootstrap.
            {[this] {
                 serviceManagement.failNextRegistration(
                     "The operation couldn\u2019t be completed. (SMAppServiceErrorDomain error 1.)");
             },
             "The operation couldn\u2019t be completed. (SMAppServiceErrorDomain error 1.)", 3, 1},
            // A half-done registration is undone before the legacy agent returns.
            {[this] {
                 serviceManagement.failNextRegistration("Registration failed.",
                                                        SMAppServiceStatusRequiresApproval);
             },
             "Registration failed.", 3, 2},
            // One that cannot be undone leaves the legacy agent out.
            {[this] {
                 serviceManagement.failNextRegistration("Registration failed.", SMAppServiceStatusEnabled);
                 serviceManagement.failNextUnregistration("Unregistering failed.");
             },
             "Registration failed. The new registration could not be rolled back: Unregistering failed.", 2,
             2},
            {[this] {
                 serviceManagement.failNextRegistration("Registration failed.");
                 commands.respond(bootstrap(), {5, "Bootstrap failed: 5: Input/output error\n"});
             },
             "Registration failed. The previous helper could not be restarted: launchctl bootstrap failed: Bootstrap failed: 5: Input/output error",
             3, 1},
            // Switched off by the user in Login Items settings: refused, left awaiting approval, undone.
            {[this] { serviceManagement.switchOff(); },
             "Allow Tessaly in General > Login Items & Extensions before enabling audio memory.", 3, 2},
            // Registered before the call: the registration is the user's, only the legacy agent comes back.
            {[this] { serviceManagement.setStatus(SMAppServiceStatusRequiresApproval); },
             "Allow Tessaly in General > Login Items & Extensions before enabling audio memory.", 3, 0},
            {[this] {
                 commands.respond(bootout(), {3, "Boot-out failed: 3: No such process"});
             },
             "launchctl bootout failed: Boot-out failed: 3: No such process", 2, 0},
            {[this] { commands.failLaunching(ENOENT); },
             "Launching \u201C/bin/launchctl\u201D failed: No such file or directory.", 1, 0},
        };
    }
};

TEST_P(LegacyMigrationFailure, IsReportedAndRolledBackAsFarAsItCanBe) {
    const Failure failed = failures().at(static_cast<std::size_t>(GetParam()));
    failed.fail();

    EXPECT_EQ(messageOf([&] { service.enable(); }), failed.message);

    const std::vector<Arguments> steps{print(), bootout(), bootstrap()};
    EXPECT_EQ(launchctlCalls(), std::vector(steps.begin(), steps.begin() + failed.launchctlCalls));
    const std::vector<std::string> loginItems{"register com.orvanne.tessaly.agent.plist",
                                              "unregister com.orvanne.tessaly.agent.plist"};
    EXPECT_EQ(serviceManagement.calls(),
              std::vector(loginItems.begin(), loginItems.begin() + failed.loginItemCalls));
    EXPECT_TRUE(FileSystem::exists(paths.legacyAgent()));
    if (failed.loginItemCalls == 2 && failed.launchctlCalls == 3) {
        EXPECT_EQ(service.registration(), "not-registered");
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, LegacyMigrationFailure, ::testing::Range(0, 8));

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

TEST_F(LegacyAgentInspection, AServiceLaunchdCannotFindIsNotLoadedAndAFailedRegistrationOnlyUndoesItself) {
    legacyAgentIsNotLoaded();
    serviceManagement.failNextRegistration("Registration failed.", SMAppServiceStatusEnabled);

    EXPECT_EQ(messageOf([&] { service.enable(); }), "Registration failed.");
    EXPECT_THAT(serviceManagement.calls(), ElementsAre("register com.orvanne.tessaly.agent.plist",
                                                       "unregister com.orvanne.tessaly.agent.plist"));
    // It was not running before, so it is not started now.
    EXPECT_THAT(launchctlCalls(), ElementsAre(Arguments{"print", legacyTarget()}));
    EXPECT_TRUE(FileSystem::exists(paths.legacyAgent()));

    service.enable();
    EXPECT_EQ(serviceManagement.calls().back(), "register com.orvanne.tessaly.agent.plist");
    EXPECT_EQ(launchctlCalls().size(), 2u);  // a second print, no bootout
    EXPECT_FALSE(FileSystem::exists(paths.legacyAgent()));
}

TEST_F(LegacyAgentInspection, OtherPrintFailureIsReportedWithItsOutputTrimmedAndRepaired) {
    const std::pair<CommandResult, std::string> cases[] = {
        {{64, "\u2028\n  Unrecognized target specifier.\u00A0\r\n\t"}, "Unrecognized target specifier."},
        {{1, "bad \xFF byte \xC0\xAF\xC3"}, "bad \uFFFD byte \uFFFD\uFFFD\uFFFD"},
    };
    for (const auto& [printed, reported] : cases) {
        commands.respond({"print", legacyTarget()}, printed);
        EXPECT_EQ(messageOf([&] { service.enable(); }),
                  "Cannot inspect the previous launch agent: " + reported);
    }
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
}

TEST_F(LegacyAgentInspection, ANotLoadedAgentWaitsForAHelperToLeaveUnlessItIsTheEnabledLoginItemsHelper) {
    legacyAgentIsNotLoaded();
    serviceManagement.setStatus(SMAppServiceStatusEnabled);
    startHelper();
    service.enable();
    EXPECT_THAT(sleeps, IsEmpty());
    EXPECT_FALSE(FileSystem::exists(paths.legacyAgent()));

    installLegacyAgent();
    serviceManagement.setStatus(SMAppServiceStatusNotRegistered);
    onSleep = [&](std::size_t count) {
        if (count == 2) stopHelper();
    };
    service.enable();
    EXPECT_THAT(sleeps, ElementsAre(0.1, 0.1));
}

}  // namespace
}  // namespace tessaly::testing
