#pragma once

#include <string>

#include "ports/ServiceManagement.h"

namespace tessaly {

/// The login-item agent service on Linux, which has nothing like SMAppService: a per-user record,
/// a supervisor that plays launchd, and a freedesktop.org autostart entry for the next login.
///
/// Registering reads the bundle's agent definition (Contents/Library/LaunchAgents/<plistName>):
/// its BundleProgram, relative to the bundle, is run with its ProgramArguments (verbatim, as
/// launchd passes them), detached, under a supervisor that reads KeepAlive as launchd does
/// (DetachedProcess). The record <state folder>/login-items/<plistName> is an XML property list
/// with State ("enabled" or "requires-approval"), Bundle and Program; it is created exclusively,
/// and every change to it is made under <plistName>.claim, so that two registrations at once
/// start one supervisor. The supervisor keeps <plistName>.lock locked while it lives: that lock,
/// never a recorded process number, tells which processes are ours to stop (SupervisorLock).
///
/// At the next login the autostart entry $XDG_CONFIG_HOME/autostart/<label>.desktop (written while
/// the item is enabled) runs Contents/MacOS/tessaly-login start <plistName>, which starts the
/// supervisor again (`startAtLogin`).
///
/// "Requires approval": with TESSALY_LOGIN_ITEMS_REQUIRE_APPROVAL=1 in the environment of the
/// registering process, registering records the item as requiring approval and starts nothing, as
/// macOS may do when it asks the user first. Opening the Login Items settings stands for
/// switching it on there: the item becomes enabled and starts.
///
/// "Switched off" (`switchOff`) stands for the user switching the item off in Login Items
/// settings, which the system remembers apart from the registration (<plistName>.switched-off): a
/// registered item stops and requires approval, and registering it, even after unregistering,
/// records it as requiring approval and fails with kSMErrorLaunchDeniedByUser, as recent macOS
/// does. Opening the Login Items settings switches it on again.
class PosixServiceManagement : public ServiceManagement {
public:
    /// The status of a record that cannot be read: above the values macOS defines, so that it
    /// reads as unknown rather than as any state it may not be.
    static constexpr int unreadableRecordStatus = 100;

    /// How the stand-in behaves; `fromEnvironment` gives what the application uses.
    struct Settings {
        /// The per-user state folder, ".../tessaly"; created with mode 0700 when registering.
        std::string stateFolder;
        /// The freedesktop.org autostart folder.
        std::string autostartFolder;
        /// Registering leaves the item requiring approval and starts nothing.
        bool requireApproval = false;
        /// Seconds from one start of the program to the earliest restart (launchd's throttle).
        double throttleInterval = 10;
        /// Seconds the program has after SIGTERM before it is killed.
        double stopTimeout = 5;

        /// State folder $XDG_STATE_HOME/tessaly (else ~/.local/state/tessaly), autostart folder
        /// $XDG_CONFIG_HOME/autostart (else ~/.config/autostart), each variable only when it is an
        /// absolute path; requireApproval when TESSALY_LOGIN_ITEMS_REQUIRE_APPROVAL is "1".
        static Settings fromEnvironment();
    };

    /// The login items of the bundle at `bundlePath`, with the settings from the environment.
    explicit PosixServiceManagement(std::string bundlePath);
    /// The login items of the bundle at `bundlePath`, with explicit settings.
    PosixServiceManagement(std::string bundlePath, Settings settings);

    /// As the record says; unreadableRecordStatus for a record that is not one; without a record
    /// not registered, or not found when the bundle has no agent definition of that name.
    int status(const std::string& plistName) override;
    /// Claims the record, writes the autostart entry and starts the supervised program; does nothing
    /// while a record exists. Throws FileError or TessalyError, leaving no record, when the agent
    /// definition or the program cannot be used, and ServiceManagementError for an item switched off.
    void registerService(const std::string& plistName) override;
    /// Stops the item's supervisors and their programs, waits until they are gone, then removes the
    /// record and the autostart entry. Not being registered is no error; a supervisor that outlives
    /// SIGKILL throws and keeps the record.
    void unregisterService(const std::string& plistName) override;
    /// Stands for switching the bundle's items on in Login Items settings: none is switched off any
    /// more, and every item of this bundle that requires approval becomes enabled and starts.
    void openSystemSettingsLoginItems() override;

    /// Stands for the user switching the item off in Login Items settings (see above).
    void switchOff(const std::string& plistName);

    /// What a login does: starts the supervised program of an enabled item unless it runs already.
    void startAtLogin(const std::string& plistName);

    /// Where the registration record of `plistName` lies.
    std::string recordPath(const std::string& plistName) const;
    /// Where the autostart entry of `plistName` lies.
    std::string autostartPath(const std::string& plistName) const;

private:
    /// Starts the supervisor of an enabled item, unless one runs; the claim is held by the caller.
    void launch(const std::string& plistName);
    /// Records the item enabled, writes its autostart entry and starts it; the claim is held by the
    /// caller. When it cannot start, the entry goes and the record is put back to `stateBefore`
    /// (removed when that is null).
    void switchOn(const std::string& plistName, const std::string& program, const char* stateBefore);
    /// Switches one item on: it is no longer switched off, and it starts when it requires approval.
    void approve(const std::string& plistName);
    void writeAutostartEntry(const std::string& plistName) const;
    void prepareFolder(const std::string& path) const;

    std::string bundlePath_;
    Settings settings_;
};

}  // namespace tessaly
