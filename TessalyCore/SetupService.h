#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "InstallationPaths.h"
#include "SetupSnapshot.h"
#include "platform/Accessibility.h"
#include "platform/Commands.h"
#include "platform/MessagePorts.h"
#include "platform/ProcessEnvironment.h"
#include "platform/ServiceManagement.h"
#include "platform/Workspace.h"

namespace tessaly {

/// The services the setup service works through, built by the application's composition root.
struct SetupPlatform {
    ProcessEnvironment& process;
    ServiceManagement& serviceManagement;
    Commands& commands;
    Workspace& workspace;
    MessagePorts& messagePorts;
    Accessibility& accessibility;
    /// Sleeps for the given seconds on a continuous clock; tests pass one that returns at once.
    std::function<void(double)> sleep;
    /// The installation's locations: the user's home folder and the system Applications folder.
    InstallationPaths paths;
    /// The helper's status port name.
    std::string portName = "com.orvanne.tessaly";
};

/// The only place where the system changes its own installation: the login item, the legacy launch
/// agent, the running helper and the application bundle. It keeps no state between calls, so its
/// operations may run on a worker thread. Every operation that changes something first proves that
/// the running application is the installed one.
class SetupService {
public:
    /// The agent definition's name inside the bundle's Contents/Library/LaunchAgents.
    static constexpr std::string_view agentName = "com.orvanne.tessaly.agent.plist";

    explicit SetupService(SetupPlatform platform);

    /// Registers the helper as a login item (migrating a legacy agent) and waits until it is healthy.
    void enable();
    /// Saves the choice, unregisters the login item, stops a legacy agent, waits until the helper is gone.
    void disable();
    /// disable(), then enable().
    void restart();
    /// Disables, removes the legacy files and moves the application to the Trash; audio.json stays.
    void uninstall();
    /// Asks the system to show its Accessibility prompt.
    void requestAccessibility();
    /// Opens the Accessibility pane of System Settings; throws when it cannot.
    void openAccessibilitySettings();
    /// Opens the Login Items pane of System Settings.
    void openLoginSettings();
    /// The installation's state and its first problem; never throws.
    SetupSnapshot snapshot();

    /// "not-registered", "enabled", "requires-approval", "not-found" or "unknown", read anew.
    std::string registration();
    /// Whether the running application is one of the two installed copies.
    bool installed();

private:
    SetupPlatform platform_;
};

}  // namespace tessaly
