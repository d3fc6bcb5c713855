#pragma once

#include <string>

#include "ports/ServiceManagement.h"

namespace tessaly {

/// The login-item agent service on Linux, which has nothing like SMAppService: a per-user record
/// and a supervised process stand in for launchd.
///
/// Registering reads the bundle's agent definition (Contents/Library/LaunchAgents/<plistName>):
/// its BundleProgram, relative to the bundle, is run with its ProgramArguments (verbatim, as launchd
/// passes them; the first one is the program's name), detached: a session of its own, no terminal,
/// standard streams on /dev/null, working folder "/". A supervisor starts the program again each
/// time it exits with status 1, at most once per restart interval, as launchd does for KeepAlive
/// {SuccessfulExit: false}; any other exit ends the supervisor, and the item stays registered, as
/// on macOS. Registering also writes the record <state folder>/login-items/<plistName>, an XML
/// property list: State ("enabled" or "requires-approval"), Bundle, Program and, while a
/// supervisor was started, its SupervisorProcessIdentifier, SupervisorStartTime and
/// SupervisorSession. The start time tells the supervisor from an unrelated process that got its
/// pid later; the session finds the program and whatever it started. Registered items are not
/// started again at the next login.
///
/// Unregistering sends SIGTERM to the supervisor (which passes it on to the program), waits until
/// every process of its session is gone, sends SIGKILL to what is left after the stop timeout, and
/// removes the record.
///
/// "Requires approval": with TESSALY_LOGIN_ITEMS_REQUIRE_APPROVAL=1 in the environment of the
/// registering process, registering records the item as requiring approval and starts nothing, as
/// macOS does for a login item the user switched off. It is approved by unregistering and
/// registering again without the variable (disable, then enable).
///
/// Why the supervisor is a fork that runs only async-signal-safe code (DetachedProcess) rather than
/// a program: the command lines of the application and the helper have no word for a supervisor
/// mode, and /bin/sh would start the program as a background job with SIGINT and SIGQUIT ignored,
/// with races between its trap and wait. The price is that the supervisor keeps a copy-on-write
/// image of the registering process; ps shows it as "tessaly-login".
class PosixServiceManagement : public ServiceManagement {
public:
    /// How the stand-in behaves; `fromEnvironment` gives what the application uses.
    struct Settings {
        /// The per-user state folder, ".../tessaly"; created with mode 0700 when registering.
        std::string stateFolder;
        /// Registering leaves the item requiring approval and starts nothing.
        bool requireApproval = false;
        /// Seconds from one start of the program to the earliest restart after it exited with 1.
        double restartInterval = 3;
        /// Seconds unregistering waits after SIGTERM before it sends SIGKILL.
        double stopTimeout = 5;

        /// State folder $XDG_STATE_HOME/tessaly when that is an absolute path, otherwise
        /// ~/.local/state/tessaly; requireApproval when TESSALY_LOGIN_ITEMS_REQUIRE_APPROVAL is "1".
        static Settings fromEnvironment();
    };

    /// The login items of the bundle at `bundlePath`, with the settings from the environment.
    explicit PosixServiceManagement(std::string bundlePath);
    /// The login items of the bundle at `bundlePath`, with explicit settings.
    PosixServiceManagement(std::string bundlePath, Settings settings);

    /// Enabled or requires approval as the record says (a record that cannot be read counts as
    /// enabled, so that unregistering can remove it); without a record not registered, or not found
    /// when the bundle has no agent definition of that name (or the name is not a file name).
    int status(const std::string& plistName) override;
    /// Starts the program and writes the record; does nothing while a record exists. Throws
    /// FileError or TessalyError when the agent definition or the program cannot be used.
    void registerService(const std::string& plistName) override;
    /// Stops the supervisor and the program, waits until they are gone, removes the record. Not
    /// being registered is no error; processes that outlive SIGKILL throw and keep the record.
    void unregisterService(const std::string& plistName) override;
    /// Does nothing: Linux has no Login Items settings; the record file is the registration.
    void openSystemSettingsLoginItems() override;

    /// Where the registration record of `plistName` lies.
    std::string recordPath(const std::string& plistName) const;

private:
    void prepareRecordFolder() const;

    std::string bundlePath_;
    Settings settings_;
};

}  // namespace tessaly
