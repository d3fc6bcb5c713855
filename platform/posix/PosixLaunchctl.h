#pragma once

#include <string>
#include <vector>

#include "ports/Commands.h"
#include "posix/PosixCommands.h"

namespace tessaly {

/// Commands on Linux, where /bin/launchctl does not exist: every other program runs as it is
/// (PosixCommands), and "/bin/launchctl" is answered by a stand-in that loads the user's launch
/// agents under the same supervisor as the login items (DetachedProcess, SupervisorLock).
///
/// It knows the calls the setup makes, in the user's gui domain, with launchctl's exit codes and
/// texts:
/// - print gui/UID/LABEL: 0 and a description when loaded (its state, and "pid = N" while its
///   program runs); 113 and "Could not find service" when not.
/// - bootstrap gui/UID PATH: loads the agent definition at PATH (Label, ProgramArguments or
///   Program, RunAtLoad, KeepAlive) and starts it when RunAtLoad or KeepAlive asks for that; 5 when
///   it is loaded already, 119 when its label is disabled.
/// - bootout gui/UID/LABEL: stops the agent's supervisor and program and unloads it; 3 when not loaded.
/// - disable / enable gui/UID/LABEL: records whether bootstrap may load the label.
/// A loaded agent is the record <state folder>/launch-agents/<LABEL> (its definition's path); the
/// supervisor keeps <LABEL>.lock; <LABEL>.disabled marks a disabled label.
class PosixLaunchctl : public Commands {
public:
    /// The launchctl stand-in's path, as the setup service runs it.
    static constexpr const char* path = "/bin/launchctl";

    /// Launch agents in `stateFolder` (".../tessaly"), restarted no more often than
    /// `throttleInterval` seconds, given `stopTimeout` seconds after SIGTERM.
    explicit PosixLaunchctl(std::string stateFolder, double throttleInterval = 10, double stopTimeout = 5);
    /// With the state folder of the login items ($XDG_STATE_HOME/tessaly).
    PosixLaunchctl();

    CommandResult run(const std::string& program, const std::vector<std::string>& arguments) override;

    /// What launchd does when the user logs in: bootstraps every agent definition in `folder` (the
    /// user's Library/LaunchAgents) whose label is not disabled, as bootstrap above; one that is
    /// loaded already or cannot be loaded is passed over, as launchd only logs it.
    void loadAgentsAtLogin(const std::string& folder);

private:
    CommandResult launchctl(const std::vector<std::string>& arguments);
    CommandResult print(const std::string& label);
    CommandResult bootstrap(const std::string& definitionPath);
    CommandResult bootout(const std::string& label);
    CommandResult setDisabled(const std::string& label, bool disabled);
    /// The label of "gui/UID/LABEL" for this user, or nothing.
    std::string labelOf(const std::string& target) const;
    std::string folder() const { return stateFolder_ + "/launch-agents"; }

    PosixCommands programs_;
    std::string stateFolder_;
    double throttleInterval_;
    double stopTimeout_;
};

}  // namespace tessaly
