#include <gmock/gmock.h>

#include <functional>

#include "SetupFixture.h"

namespace tessaly::testing {
namespace {

using ::testing::IsEmpty;

class InstalledBundleCheck : public SetupFixture {};

TEST_F(InstalledBundleCheck, ACopyOutsideApplicationsOrAnotherApplicationIsNotInstalledAndChangesNothing) {
    EXPECT_TRUE(service.installed());
    const std::function<void()> changes[] = {
        [&] {
            makeBundle(home + "/Downloads/Tessaly.app");
            runFrom(home + "/Downloads/Tessaly.app");
            EXPECT_FALSE(service.installed());
        },
        [&] { process.bundle.identifier = "com.example.other"; },
        [&] {
            process.bundle.infoDictionary.insert_or_assign("CFBundleExecutable", CFValue("tessaly-helper"));
        },
        [&] { process.bundle.infoDictionary.insert_or_assign("CFBundleExecutable", CFValue(true)); },
    };
    // Each case changes the installed copy's own process.
    const auto installed = process.bundle;
    for (const auto& change : changes) {
        process.bundle = installed;
        change();
        EXPECT_EQ(messageOf([&] { service.enable(); }),
                  "Move Tessaly.app into Applications, then open that copy to finish setup.");
        EXPECT_EQ(messageOf([&] { service.disable(); }),
                  "Move Tessaly.app into Applications, then open that copy to finish setup.");
    }
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
    EXPECT_THAT(commands.invocations(), IsEmpty());
}

TEST_F(InstalledBundleCheck, EitherApplicationsCopyRunningNamesTheOther) {
    makeBundle(paths.systemApplicationsCopy());
    // A running copy written with a trailing slash is not another copy.
    for (const auto& [running, other] : {std::pair{bundle, paths.systemApplicationsCopy()},
                                         std::pair{bundle + "/", paths.systemApplicationsCopy()},
                                         std::pair{paths.systemApplicationsCopy(), bundle}}) {
        runFrom(running);
        EXPECT_EQ(messageOf([&] { service.enable(); }),
                  "Another Tessaly.app exists at " + other + ". Keep one installed copy before continuing.");
    }
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
}

TEST_F(InstalledBundleCheck, AMissingAgentDefinitionAsksForAReinstallAndALinkedOneIsRefused) {
    const std::string definition = bundle + "/Contents/Library/LaunchAgents/com.orvanne.tessaly.agent.plist";
    writeFile(root + "/elsewhere.plist", readFile(definition));
    FileSystem::removeFile(definition);
    EXPECT_EQ(messageOf([&] { service.enable(); }),
              "The bundled login-helper definition is missing. Reinstall Tessaly.");
    EXPECT_THAT(serviceManagement.calls(), IsEmpty());

    ASSERT_EQ(::symlink((root + "/elsewhere.plist").c_str(), definition.c_str()), 0);
    EXPECT_EQ(messageOf([&] { service.enable(); }),
              "Refusing a redirected or non-file installation path: " + definition + ".");
}

class RegistrationState : public SetupFixture {};

TEST_F(RegistrationState, EachStatusHasItsText) {
    const std::pair<int, const char*> expected[] = {{0, "not-registered"},    {1, "enabled"},
                                                    {2, "requires-approval"}, {3, "not-found"},
                                                    {7, "unknown"},           {-1, "unknown"}};
    for (const auto& [status, text] : expected) {
        serviceManagement.setStatus(status);
        EXPECT_EQ(service.registration(), text) << status;
    }
}

class SystemSettings : public SetupFixture {};

TEST_F(SystemSettings, AccessibilityPaneOpensItsAddressOrTellsTheWayThere) {
    service.openAccessibilitySettings();
    EXPECT_THAT(workspace.openedURLs(),
                ::testing::ElementsAre(
                    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"));

    workspace.refuseOpeningURLs();

    EXPECT_EQ(messageOf([&] { service.openAccessibilitySettings(); }),
              "Open System Settings > Privacy & Security > Accessibility manually.");

    // Asking for Accessibility shows the prompt when not trusted.
    desktop.revokeTrust();
    service.requestAccessibility();
    EXPECT_EQ(desktop.promptsShown(), 1);
}

}  // namespace
}  // namespace tessaly::testing
