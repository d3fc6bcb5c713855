#include <gtest/gtest.h>

#include <limits>

#include "SnapshotBuilder.h"
#include "setup/SetupWindowState.h"

namespace tessaly {
namespace {

using testing::installedSnapshot;
using testing::runningSnapshot;
using Action = SetupWindowState::PrimaryAction;

SetupWindowState derive(const SetupSnapshot& snapshot, bool busy = false) {
    return SetupWindowState::derive(snapshot, busy);
}

// Which of permission, login, restart and uninstall are shown, in that order.
std::vector<bool> shown(const SetupWindowState& state) {
    return {!state.permissionHidden, !state.loginHidden, !state.restartHidden, !state.uninstallHidden};
}

TEST(SetupWindowStateRows, NotInstalledAsksToMoveToApplicationsWhateverTheRegistration) {
    SetupSnapshot snapshot = installedSnapshot();
    snapshot.installed = false;
    snapshot.registration = "enabled";
    const auto state = derive(snapshot);
    EXPECT_EQ(state.status, "Move to Applications first");
    EXPECT_EQ(state.detail,
              "Drag Tessaly.app into Applications, then open that copy. No administrator access or developer "
              "tools are needed for a per-user install.");
    EXPECT_EQ(state.primaryTitle, "Show Applications");
    EXPECT_TRUE(state.primaryEnabled);
    EXPECT_EQ(shown(state), (std::vector{false, false, false, false}));
}

TEST(SetupWindowStateRows, RequiresApprovalWithoutTrustOffersBothSettingsButDisablesTheMainButton) {
    SetupSnapshot snapshot = installedSnapshot();
    snapshot.registration = "requires-approval";
    snapshot.accessibilityTrusted = false;
    const auto state = derive(snapshot);
    EXPECT_EQ(state.status, "Allow Tessaly in the background");
    EXPECT_EQ(
        state.detail,
        "In Login Items & Extensions, allow Tessaly to run in the background. macOS will then start your "
        "helper at login.");
    EXPECT_EQ(state.primaryTitle, "Open Login Settings");
    EXPECT_FALSE(state.primaryEnabled);
    EXPECT_EQ(shown(state), (std::vector{true, true, false, true}));
}

TEST(SetupWindowStateRows, AnOlderInstallationAsksToFinishTheUpgradeAndRunsEnable) {
    SetupSnapshot snapshot = runningSnapshot();
    snapshot.legacyInstallation = true;
    const auto state = derive(snapshot);
    EXPECT_EQ(state.status, "Finish the upgrade");
    EXPECT_EQ(
        state.detail,
        "Enable audio memory to move your existing helper to macOS's built-in login-item management. Your "
        "saved audio choice is preserved.");
    EXPECT_EQ(state.primaryTitle, "Finish Setup");
    EXPECT_TRUE(state.primaryEnabled);
    EXPECT_EQ(shown(state), (std::vector{false, false, true, true}));
    // The registration is already enabled, yet the upgrade is finished by enable, not undone by disable.
    EXPECT_EQ(SetupWindowState::primaryAction(snapshot), Action::enable);
}

TEST(SetupWindowStateRows, UntrustedButEnabledOffersDisableWithAccessibilityAndRestart) {
    SetupSnapshot snapshot = runningSnapshot();
    snapshot.accessibilityTrusted = false;
    const auto state = derive(snapshot);
    EXPECT_EQ(state.status, "Allow Accessibility");
    EXPECT_EQ(
        state.detail,
        "Enable Tessaly in Privacy & Security > Accessibility. Then return here and enable audio memory.");
    EXPECT_EQ(state.primaryTitle, "Disable Audio Memory");
    EXPECT_TRUE(state.primaryEnabled);
    EXPECT_EQ(shown(state), (std::vector{true, false, true, true}));
}

TEST(SetupWindowStateRows, UntrustedAndNotRegisteredCannotEnableYet) {
    SetupSnapshot snapshot = installedSnapshot();
    snapshot.accessibilityTrusted = false;
    const auto state = derive(snapshot);
    EXPECT_EQ(state.status, "Allow Accessibility");
    EXPECT_EQ(state.primaryTitle, "Enable Audio Memory");
    EXPECT_FALSE(state.primaryEnabled);
    EXPECT_EQ(shown(state), (std::vector{true, false, false, true}));
}

TEST(SetupWindowStateRows, AProblemIsShownWordForWordWithTheToggleForTheRegistration) {
    SetupSnapshot snapshot = installedSnapshot();
    snapshot.error = "The login helper is registered but has not answered. Choose Restart Audio Memory.";
    auto state = derive(snapshot);
    EXPECT_EQ(state.status, "Tessaly needs attention");
    EXPECT_EQ(state.detail, *snapshot.error);
    EXPECT_EQ(state.primaryTitle, "Enable Audio Memory");
    EXPECT_EQ(shown(state), (std::vector{false, false, false, true}));

    snapshot.registration = "enabled";
    state = derive(snapshot);
    EXPECT_EQ(state.primaryTitle, "Disable Audio Memory");
    EXPECT_EQ(shown(state), (std::vector{false, false, true, true}));
}

TEST(SetupWindowStateRows, EnabledWithAnAnsweringHelperIsOn) {
    const auto state = derive(runningSnapshot());
    EXPECT_EQ(state.status, "Audio memory is on");
    EXPECT_EQ(
        state.detail,
        "Your choice will be remembered across previews and logins. You can close this window; the helper "
        "keeps running.");
    EXPECT_EQ(state.primaryTitle, "Disable Audio Memory");
    EXPECT_TRUE(state.primaryEnabled);
    EXPECT_EQ(shown(state), (std::vector{false, false, true, true}));
}

TEST(SetupWindowStateRows, AFreshInstallationIsOff) {
    const auto state = derive(installedSnapshot());
    EXPECT_EQ(state.status, "Audio memory is off");
    EXPECT_EQ(state.detail,
              "Enable it to remember your next preview's audio choice and start automatically at login.");
    EXPECT_EQ(state.primaryTitle, "Enable Audio Memory");
    EXPECT_TRUE(state.primaryEnabled);
    EXPECT_EQ(shown(state), (std::vector{false, false, false, true}));
}

TEST(SetupWindowStatePrecedence, NotInstalledWinsOverEveryOtherCondition) {
    SetupSnapshot snapshot = installedSnapshot();
    snapshot.installed = false;
    snapshot.registration = "requires-approval";
    snapshot.accessibilityTrusted = false;
    snapshot.legacyInstallation = true;
    snapshot.error = "Something is wrong.";
    const auto state = derive(snapshot);
    EXPECT_EQ(state.status, "Move to Applications first");
    EXPECT_EQ(shown(state), (std::vector{false, false, false, false}));
    EXPECT_EQ(SetupWindowState::primaryAction(snapshot), Action::revealApplications);
}

TEST(SetupWindowStatePrecedence, EachRowWinsOverTheRowsBelowIt) {
    SetupSnapshot snapshot = runningSnapshot();
    snapshot.error = "Something is wrong.";
    EXPECT_EQ(derive(snapshot).status, "Tessaly needs attention");
    snapshot.accessibilityTrusted = false;
    EXPECT_EQ(derive(snapshot).status, "Allow Accessibility");
    snapshot.legacyInstallation = true;
    EXPECT_EQ(derive(snapshot).status, "Finish the upgrade");
    snapshot.registration = "requires-approval";
    EXPECT_EQ(derive(snapshot).status, "Allow Tessaly in the background");
}

TEST(SetupWindowStatePrecedence, EnabledWithoutAnAnsweringHelperIsNotOn) {
    SetupSnapshot snapshot = runningSnapshot();
    snapshot.helper.reset();
    EXPECT_EQ(derive(snapshot).status, "Audio memory is off");
}

TEST(SetupWindowStatePrecedence, RegistrationTextsAreComparedExactly) {
    for (const char* registration : {"Enabled", "enabled ", "requires_approval", "not-found", "unknown"}) {
        SetupSnapshot snapshot = runningSnapshot();
        snapshot.registration = registration;
        const auto state = derive(snapshot);
        EXPECT_EQ(state.status, "Audio memory is off") << registration;
        EXPECT_EQ(shown(state), (std::vector{false, false, false, true})) << registration;
        EXPECT_EQ(SetupWindowState::primaryAction(snapshot), Action::enable) << registration;
    }
}

TEST(SetupWindowStateBusy, BusyDisablesOnlyTheMainButtonInEveryState) {
    SetupSnapshot notInstalled = installedSnapshot();
    notInstalled.installed = false;
    SetupSnapshot untrusted = runningSnapshot();
    untrusted.accessibilityTrusted = false;
    for (const auto& snapshot : {notInstalled, untrusted, runningSnapshot(), installedSnapshot()}) {
        auto idle = derive(snapshot, false);
        const auto busy = derive(snapshot, true);
        EXPECT_FALSE(busy.primaryEnabled);
        idle.primaryEnabled = false;
        EXPECT_EQ(busy, idle);
    }
}

TEST(SetupWindowStateInitial, BeforeTheFirstSnapshotAllButtonsAreShownWhileChecking) {
    const auto state = SetupWindowState::derive(std::nullopt, false);
    EXPECT_EQ(state.status, "Checking Tessaly...");
    EXPECT_EQ(state.detail, "");
    EXPECT_EQ(state.saved, "");
    EXPECT_EQ(state.primaryTitle, "Enable Audio Memory");
    EXPECT_TRUE(state.primaryEnabled);
    EXPECT_EQ(shown(state), (std::vector{true, true, true, true}));
    EXPECT_EQ(SetupWindowState::primaryAction(std::nullopt), Action::nothing);
}

TEST(SetupWindowSavedLine, AnAbsentVolumeIsUnavailableInEveryStateIncludingNotInstalled) {
    SetupSnapshot snapshot = installedSnapshot();
    snapshot.installed = false;
    snapshot.volume.reset();
    EXPECT_EQ(derive(snapshot).saved, "The saved audio choice is unavailable.");
    snapshot = runningSnapshot();
    snapshot.volume.reset();
    EXPECT_EQ(derive(snapshot).saved, "The saved audio choice is unavailable.");
}

TEST(SetupWindowSavedLine, ZeroIsMuted) {
    EXPECT_EQ(SetupWindowState::savedLine(0.0), "Remembered choice: Muted");
    EXPECT_EQ(SetupWindowState::savedLine(-0.0), "Remembered choice: Muted");
}

TEST(SetupWindowSavedLine, OtherVolumesAreWholePercentsRoundedHalfAwayFromZero) {
    EXPECT_EQ(SetupWindowState::savedLine(0.5), "Remembered volume: 50%");
    // 12.5 and 62.5 are exact in binary: rounding half to even would give 12 and 62.
    EXPECT_EQ(SetupWindowState::savedLine(0.125), "Remembered volume: 13%");
    EXPECT_EQ(SetupWindowState::savedLine(0.625), "Remembered volume: 63%");
    EXPECT_EQ(SetupWindowState::savedLine(1.0), "Remembered volume: 100%");
    EXPECT_EQ(SetupWindowState::savedLine(0.994), "Remembered volume: 99%");
}

TEST(SetupWindowSavedLine, ATinyAudibleVolumeShowsZeroPercentNotMuted) {
    EXPECT_EQ(SetupWindowState::savedLine(0.004), "Remembered volume: 0%");
}

TEST(SetupWindowSavedLine, AVolumeThatIsNotANumberIsUnavailable) {
    EXPECT_EQ(SetupWindowState::savedLine(std::numeric_limits<double>::quiet_NaN()),
              "The saved audio choice is unavailable.");
    EXPECT_EQ(SetupWindowState::savedLine(std::numeric_limits<double>::infinity()),
              "The saved audio choice is unavailable.");
}

TEST(SetupWindowPrimaryAction, NotInstalledRevealsApplicationsEvenWhenApprovalIsRequired) {
    SetupSnapshot snapshot = installedSnapshot();
    snapshot.installed = false;
    snapshot.registration = "requires-approval";
    EXPECT_EQ(SetupWindowState::primaryAction(snapshot), Action::revealApplications);
}

TEST(SetupWindowPrimaryAction, RequiresApprovalOpensLoginSettingsEvenWithAnOlderInstallation) {
    SetupSnapshot snapshot = installedSnapshot();
    snapshot.registration = "requires-approval";
    snapshot.legacyInstallation = true;
    EXPECT_EQ(SetupWindowState::primaryAction(snapshot), Action::openLoginSettings);
}

TEST(SetupWindowPrimaryAction, EnabledDisablesWhateverTheTitleSays) {
    // Untrusted and failing states keep the title of row 4 or 5; the action follows the registration.
    SetupSnapshot snapshot = runningSnapshot();
    snapshot.accessibilityTrusted = false;
    snapshot.error = "Something is wrong.";
    EXPECT_EQ(SetupWindowState::primaryAction(snapshot), Action::disable);
    EXPECT_EQ(SetupWindowState::primaryAction(runningSnapshot()), Action::disable);
}

TEST(SetupWindowPrimaryAction, AnythingElseEnables) {
    EXPECT_EQ(SetupWindowState::primaryAction(installedSnapshot()), Action::enable);
}

}  // namespace
}  // namespace tessaly
