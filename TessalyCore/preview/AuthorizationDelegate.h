#pragma once

#include "ports/Accessibility.h"
#include "ports/Log.h"
#include "ports/RunLoop.h"
#include "ports/Workspace.h"

namespace tessaly {

/// Drives the trust flow once the application has launched: shows the system's prompt, opens the
/// Accessibility settings, then polls once a second until trust is granted or 120 seconds passed,
/// and always ends by terminating the application (stopping its run loop).
class AuthorizationDelegate {
public:
    /// How long to wait for the user to grant trust.
    static constexpr double waitLimit = 120;
    /// The Accessibility pane of System Settings.
    static constexpr const char* settingsURL =
        "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

    /// Sets the deadline: now plus 120 seconds.
    AuthorizationDelegate(Accessibility& accessibility, Workspace& workspace, RunLoop& runLoop, Log& log);

    /// Prompts, opens the settings when not trusted yet, and starts waiting.
    void applicationDidFinishLaunching();
    /// One polling step; schedules the next one a second later.
    void waitForPermission();

private:
    Accessibility& accessibility_;
    Workspace& workspace_;
    RunLoop& runLoop_;
    Log& log_;
    double deadline_;
};

}  // namespace tessaly
