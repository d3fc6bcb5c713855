#pragma once

#include "ports/Accessibility.h"
#include "ports/Application.h"
#include "ports/Log.h"
#include "ports/RunLoop.h"
#include "ports/Workspace.h"

namespace tessaly {

/// The application's delegate while the helper asks for trust: once the application has launched it
/// shows the system's prompt, opens the Accessibility settings, then polls once a second (on the main
/// queue) until trust is granted or 120 seconds passed, and always ends by terminating the application.
class AuthorizationDelegate : public ApplicationDelegate {
public:
    /// How long to wait for the user to grant trust.
    static constexpr double waitLimit = 120;
    /// The Accessibility pane of System Settings.
    static constexpr const char* settingsURL =
        "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

    /// Sets the deadline: now plus 120 seconds.
    AuthorizationDelegate(Application& application, Accessibility& accessibility, Workspace& workspace,
                          RunLoop& runLoop, Log& log);

    /// Prompts, opens the settings when not trusted yet, and starts waiting.
    void applicationDidFinishLaunching() override;
    /// One polling step; schedules the next one a second later.
    void waitForPermission();

private:
    Application& application_;
    Accessibility& accessibility_;
    Workspace& workspace_;
    RunLoop& runLoop_;
    Log& log_;
    double deadline_;
};

}  // namespace tessaly
