#pragma once

#include <optional>
#include <string>
#include <vector>

#include "SnapshotBuilder.h"
#include "setup/SetupWindowState.h"

namespace tessaly::testing {

/// One row of the window's state table: a snapshot, everything the window shows for it, and what
/// its main button does. The state test checks every row; the screenshot test draws the named ones.
struct WindowStateCase {
    const char* screenshot;  // file name under <build>/screenshots, or nullptr when not drawn
    std::optional<SetupSnapshot> snapshot;
    std::string status;
    std::string detail;
    std::string saved;
    std::string primaryTitle;
    bool primaryEnabled;
    std::string shown;  // P permission, L login, R restart, U uninstall; "-" where hidden
    SetupWindowState::PrimaryAction action;
};

inline std::vector<WindowStateCase> windowStateCases() {
    using Action = SetupWindowState::PrimaryAction;
    const std::string accessibility =
        "Enable Tessaly in Privacy & Security > Accessibility. Then return here and enable audio memory.";
    const std::string off =
        "Enable it to remember your next preview's audio choice and start automatically at login.";
    const std::string unavailable = "The saved audio choice is unavailable.";
    const std::string half = "Remembered volume: 50%";
    const std::string problem =
        "The login helper is registered but has not answered. Choose Restart Audio Memory.";

    // Not installed wins over every other condition, and its saved line is still shown.
    SetupSnapshot notInstalled = installedSnapshot();
    notInstalled.installed = false;
    notInstalled.registration = "requires-approval";
    notInstalled.accessibilityTrusted = false;
    notInstalled.legacyInstallation = true;
    notInstalled.error = problem;
    notInstalled.volume.reset();
    // Approval wins over the older installation, and opens the settings instead of migrating.
    SetupSnapshot approval = installedSnapshot();
    approval.registration = "requires-approval";
    approval.accessibilityTrusted = false;
    approval.legacyInstallation = true;
    // The upgrade wins over a problem, and is finished by enable although the registration is enabled.
    SetupSnapshot upgrade = runningSnapshot();
    upgrade.legacyInstallation = true;
    upgrade.error = problem;
    // Missing trust wins over a problem; the action follows the registration, not the title's row.
    SetupSnapshot untrusted = runningSnapshot();
    untrusted.accessibilityTrusted = false;
    untrusted.helper.reset();
    untrusted.error = problem;
    SetupSnapshot untrustedOff = installedSnapshot();
    untrustedOff.accessibilityTrusted = false;
    SetupSnapshot attention = installedSnapshot();
    attention.registration = "enabled";
    attention.error = problem;
    SetupSnapshot attentionOff = installedSnapshot();
    attentionOff.error = problem;
    SetupSnapshot on = runningSnapshot();
    on.volume = 0;
    SetupSnapshot silentHelper = runningSnapshot();
    silentHelper.helper.reset();

    return {
        {nullptr, std::nullopt, "Checking Tessaly...", "", "", "Enable Audio Memory", true, "PLRU",
         Action::nothing},
        {"1-move-to-applications", notInstalled, "Move to Applications first",
         "Drag Tessaly.app into Applications, then open that copy. No administrator access or developer tools are needed for a per-user install.",
         unavailable, "Show Applications", true, "----", Action::revealApplications},
        {"2-allow-in-background", approval, "Allow Tessaly in the background",
         "In Login Items & Extensions, allow Tessaly to run in the background. macOS will then start your helper at login.",
         half, "Open Login Settings", false, "PL-U", Action::openLoginSettings},
        {"3-finish-upgrade", upgrade, "Finish the upgrade",
         "Enable audio memory to move your existing helper to macOS's built-in login-item management. Your saved audio choice is preserved.",
         half, "Finish Setup", true, "--RU", Action::enable},
        {"4-allow-accessibility", untrusted, "Allow Accessibility", accessibility, half,
         "Disable Audio Memory", true, "P-RU", Action::disable},
        {nullptr, untrustedOff, "Allow Accessibility", accessibility, half, "Enable Audio Memory", false,
         "P--U", Action::enable},
        {"5-needs-attention", attention, "Tessaly needs attention", problem, half, "Disable Audio Memory",
         true, "--RU", Action::disable},
        {nullptr, attentionOff, "Tessaly needs attention", problem, half, "Enable Audio Memory", true, "---U",
         Action::enable},
        {"6-on", on, "Audio memory is on",
         "Your choice will be remembered across previews and logins. You can close this window; the helper keeps running.",
         "Remembered choice: Muted", "Disable Audio Memory", true, "--RU", Action::disable},
        // Enabled but the helper does not answer: not on, yet pressing still disables.
        {nullptr, silentHelper, "Audio memory is off", off, half, "Enable Audio Memory", true, "--RU",
         Action::disable},
        {"7-off", installedSnapshot(), "Audio memory is off", off, half, "Enable Audio Memory", true, "---U",
         Action::enable},
    };
}

}  // namespace tessaly::testing
