#include "setup/SetupWindowState.h"

#include <cmath>
#include <cstdio>

namespace tessaly {
namespace {

constexpr const char* enabledRegistration = "enabled";
constexpr const char* approvalRegistration = "requires-approval";

constexpr const char* enableTitle = "Enable Audio Memory";
constexpr const char* disableTitle = "Disable Audio Memory";

bool isEnabled(const SetupSnapshot& snapshot) {
    return snapshot.registration == enabledRegistration;
}

bool requiresApproval(const SetupSnapshot& snapshot) {
    return snapshot.registration == approvalRegistration;
}

// Rows 4 and 5 leave the helper's registration as it is, so the main button offers its opposite.
std::string toggleTitle(const SetupSnapshot& snapshot) {
    return isEnabled(snapshot) ? disableTitle : enableTitle;
}

bool mainButtonEnabled(const SetupSnapshot& snapshot, bool busy) {
    if (busy) return false;
    // Moving to Applications needs nothing else; anything further needs trust or a running item.
    if (!snapshot.installed) return true;
    return snapshot.accessibilityTrusted || isEnabled(snapshot);
}

// The status line, detail text and main button title: the first matching row decides all three.
void applyStateRow(const SetupSnapshot& snapshot, SetupWindowState& state) {
    if (!snapshot.installed) {
        state.status = "Move to Applications first";
        state.detail =
            "Drag Tessaly.app into Applications, then open that copy. No administrator access or developer tools are needed for a per-user install.";
        state.primaryTitle = "Show Applications";
        return;
    }
    if (requiresApproval(snapshot)) {
        state.status = "Allow Tessaly in the background";
        state.detail =
            "In Login Items & Extensions, allow Tessaly to run in the background. macOS will then start your helper at login.";
        state.primaryTitle = "Open Login Settings";
        return;
    }
    if (snapshot.legacyInstallation) {
        state.status = "Finish the upgrade";
        state.detail =
            "Enable audio memory to move your existing helper to macOS's built-in login-item management. Your saved audio choice is preserved.";
        state.primaryTitle = "Finish Setup";
        return;
    }
    if (!snapshot.accessibilityTrusted) {
        state.status = "Allow Accessibility";
        state.detail =
            "Enable Tessaly in Privacy & Security > Accessibility. Then return here and enable audio memory.";
        state.primaryTitle = toggleTitle(snapshot);
        return;
    }
    if (snapshot.error) {
        state.status = "Tessaly needs attention";
        state.detail = *snapshot.error;
        state.primaryTitle = toggleTitle(snapshot);
        return;
    }
    if (isEnabled(snapshot) && snapshot.helper) {
        state.status = "Audio memory is on";
        state.detail =
            "Your choice will be remembered across previews and logins. You can close this window; the helper keeps running.";
        state.primaryTitle = disableTitle;
        return;
    }
    state.status = "Audio memory is off";
    state.detail = "Enable it to remember your next preview's audio choice and start automatically at login.";
    state.primaryTitle = enableTitle;
}

}  // namespace

SetupWindowState SetupWindowState::derive(const std::optional<SetupSnapshot>& snapshot, bool busy) {
    SetupWindowState state;
    if (!snapshot) {
        state.status = "Checking Tessaly...";
        state.primaryTitle = enableTitle;
        state.primaryEnabled = !busy;
        return state;
    }
    state.saved = savedLine(snapshot->volume);
    // An application outside its install location offers nothing but the way to get there.
    state.permissionHidden = !(snapshot->installed && !snapshot->accessibilityTrusted);
    state.loginHidden = !(snapshot->installed && requiresApproval(*snapshot));
    state.restartHidden = !(snapshot->installed && isEnabled(*snapshot));
    state.uninstallHidden = !snapshot->installed;
    state.primaryEnabled = mainButtonEnabled(*snapshot, busy);
    applyStateRow(*snapshot, state);
    return state;
}

SetupWindowState::PrimaryAction SetupWindowState::primaryAction(
    const std::optional<SetupSnapshot>& snapshot) {
    if (!snapshot) return PrimaryAction::nothing;
    if (!snapshot->installed) return PrimaryAction::revealApplications;
    if (requiresApproval(*snapshot)) return PrimaryAction::openLoginSettings;
    // An older installation is migrated by enable, even when the login item is already enabled.
    if (isEnabled(*snapshot) && !snapshot->legacyInstallation) return PrimaryAction::disable;
    return PrimaryAction::enable;
}

std::string SetupWindowState::savedLine(std::optional<double> volume) {
    // A volume that is not a number cannot be shown as a percentage; treat it as unreadable.
    if (!volume || !std::isfinite(*volume)) return "The saved audio choice is unavailable.";
    if (*volume == 0) return "Remembered choice: Muted";
    // std::round rounds halves away from zero; adding 0.0 turns a negative zero into "0".
    const double percent = std::round(*volume * 100) + 0.0;
    char number[320];  // room for any finite double written without exponent
    std::snprintf(number, sizeof number, "%.0f", percent);
    return std::string("Remembered volume: ") + number + "%";
}

}  // namespace tessaly
