#pragma once

#include "setup/SetupSnapshot.h"

namespace tessaly {

/// What the setup window asks of the installation: the setup service's eight operations, plus
/// revealing the Applications folder. Every call blocks until it is done and runs on the window's
/// one worker thread, so implementations need not be thread-safe, only callable off the GUI thread.
class SetupActions {
public:
    virtual ~SetupActions() = default;

    /// Registers the helper as a login item and waits until it is healthy; throws on failure.
    virtual void enable() = 0;
    /// Unregisters the login item and waits until the helper is gone; throws on failure.
    virtual void disable() = 0;
    /// disable(), then enable(); throws the first failure.
    virtual void restart() = 0;
    /// Disables, removes the legacy files and moves the application to the Trash; throws on failure.
    virtual void uninstall() = 0;
    /// Asks the system to show its Accessibility prompt.
    virtual void requestAccessibility() = 0;
    /// Opens the Accessibility settings; throws when it cannot.
    virtual void openAccessibilitySettings() = 0;
    /// Opens the Login Items settings.
    virtual void openLoginSettings() = 0;
    /// The installation's state; problems are inside the record, it never throws.
    virtual SetupSnapshot snapshot() = 0;
    /// Shows the Applications folder in the file viewer; whether that worked.
    virtual bool revealApplicationsFolder() = 0;
};

}  // namespace tessaly
