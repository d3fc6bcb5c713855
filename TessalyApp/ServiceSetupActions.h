#pragma once

#include <string>

#include "SetupActions.h"
#include "ports/Workspace.h"
#include "setup/SetupService.h"

namespace tessaly {

/// The setup window's actions, performed by the setup service and the workspace.
class ServiceSetupActions : public SetupActions {
public:
    /// `applicationsFolder` is the folder the "Show Applications" button reveals.
    ServiceSetupActions(SetupService& service, Workspace& workspace,
                        std::string applicationsFolder = "/Applications");

    void enable() override;
    void disable() override;
    void restart() override;
    void uninstall() override;
    void requestAccessibility() override;
    void openAccessibilitySettings() override;
    void openLoginSettings() override;
    SetupSnapshot snapshot() override;
    bool revealApplicationsFolder() override;

private:
    SetupService& service_;
    Workspace& workspace_;
    std::string applicationsFolder_;
};

}  // namespace tessaly
