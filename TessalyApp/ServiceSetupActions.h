#pragma once

#include "SetupActions.h"
#include "ports/Workspace.h"
#include "setup/InstallationPaths.h"
#include "setup/SetupService.h"

namespace tessaly {

/// The setup window's actions, performed by the setup service and the workspace.
class ServiceSetupActions : public SetupActions {
public:
    /// `paths` tell which Applications folder the "Show Applications" button reveals.
    ServiceSetupActions(SetupService& service, Workspace& workspace, InstallationPaths paths);

    void enable() override;
    void disable() override;
    void restart() override;
    void uninstall() override;
    void requestAccessibility() override;
    void openAccessibilitySettings() override;
    void openLoginSettings() override;
    SetupSnapshot snapshot() override;
    /// Reveals the Applications folder an installed copy is in; without one, the user's own
    /// Applications folder when it exists (where Linux installs go), else the system's.
    bool revealApplicationsFolder() override;

private:
    SetupService& service_;
    Workspace& workspace_;
    InstallationPaths paths_;
};

}  // namespace tessaly
