#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ports/Accessibility.h"
#include "ports/Commands.h"
#include "ports/MessagePorts.h"
#include "ports/ProcessEnvironment.h"
#include "ports/ServiceManagement.h"
#include "ports/Workspace.h"
#include "setup/InstallationPaths.h"
#include "setup/SetupSnapshot.h"

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
    /// What enable() learned before it touched the login item, for rolling a failed registration back.
    struct EnableState {
        bool legacy = false;
        bool legacyBootedOut = false;
        bool wasRegistered = false;
    };

    /// Runs a program to its exit; its output decoded as UTF-8 and trimmed.
    CommandResult command(const std::string& path, const std::vector<std::string>& arguments);
    /// Runs /bin/launchctl; a non-zero exit throws with launchctl's own text.
    void launchctl(const std::vector<std::string>& arguments);
    /// launchctl's description of the loaded legacy agent, or nothing when it is not loaded.
    std::optional<std::string> legacyJob();
    /// Whether launchd has the legacy agent loaded.
    bool legacyLoaded();
    /// Boots the legacy agent described by `job` out; returns whether the login item's helper, not
    /// the legacy one, served the port beside it.
    bool bootOutLegacy(const std::string& job);
    /// Waits until the booted-out legacy agent has ended: its job, when the login item's helper
    /// keeps the port (`besideLoginItem`), otherwise its helper's hold on the port.
    void waitForStoppedLegacy(bool besideLoginItem);
    /// Whether the enabled login item's helper serves the port, not the legacy job in `legacyJob`.
    bool loginItemServesPort(const std::string& legacyJob);
    /// Waits until no helper serves the status port; throws when one still does after 5 seconds.
    void waitForStoppedHelper();
    /// Probes `stopped` every 0.1 seconds, 50 times at most; throws when it never held.
    void waitUntilStopped(const std::function<bool()>& stopped);
    /// Waits until the helper answers with a healthy status; throws the last failure after 30 tries.
    void waitForHealthyHelper();
    /// Proves that the running application is the one installed copy and carries its agent.
    void requireInstalledBundle();
    /// Registers the login item unless it is enabled already; throws when it cannot be enabled.
    void registerLoginItem();
    /// Undoes what enable() changed before its registration failed with `failureText`. Throws the
    /// failure extended by the reason when undoing fails; returns when the failure may go out as it is.
    void rollBackRegistration(const std::string& failureText, const EnableState& state);
    /// Loads the legacy agent that enable() booted out again; throws `failureText` extended by the
    /// reason when that fails.
    void restartLegacy(const std::string& failureText);
    /// Fills the snapshot's volume, legacy flag, helper and first problem.
    void examine(SetupSnapshot& snapshot);
    /// Fills the snapshot's helper and its problem, when it has one, from the status port.
    void examineHelper(SetupSnapshot& snapshot);

    /// The login item's raw SMAppService status, read anew.
    int loginItemStatus();
    /// The running bundle's folder, standardized.
    std::string bundlePath() const;
    /// "gui/" and the user id: the user's launchd domain.
    std::string userDomain() const;
    /// The legacy agent inside the user's launchd domain.
    std::string legacyServiceTarget() const;

    SetupPlatform platform_;
};

}  // namespace tessaly
