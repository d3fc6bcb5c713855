#pragma once

#include <optional>
#include <string>

#include "setup/SetupSnapshot.h"

namespace tessaly {

/// Everything the setup window shows for one snapshot and busy flag: the status block's texts,
/// which buttons are hidden, and the main button's title and whether it can be pressed. Derived
/// without any windowing system so that every state can be checked on its own.
struct SetupWindowState {
    /// What pressing the main button does; chosen from the stored snapshot, never from its title.
    enum class PrimaryAction { nothing, revealApplications, openLoginSettings, disable, enable };

    std::string status;
    std::string detail;
    std::string saved;
    std::string primaryTitle;
    bool primaryEnabled = true;
    bool permissionHidden = false;
    bool loginHidden = false;
    bool restartHidden = false;
    bool uninstallHidden = false;

    /// The state for the latest snapshot; before the first one arrives, the initial
    /// "Checking Tessaly..." state with all five buttons shown. Busy only disables the main button.
    static SetupWindowState derive(const std::optional<SetupSnapshot>& snapshot, bool busy);

    /// The main button's action for the snapshot stored by the latest refresh.
    static PrimaryAction primaryAction(const std::optional<SetupSnapshot>& snapshot);

    /// The saved-choice line: unavailable, muted, or the volume in whole percent.
    static std::string savedLine(std::optional<double> volume);

    friend bool operator==(const SetupWindowState&, const SetupWindowState&) = default;
};

}  // namespace tessaly
