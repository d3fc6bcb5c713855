#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "values/CFValue.h"

namespace tessaly {

/// Where the system's per-user files lie, whether a running copy is installed in a recognised
/// place, and what is left of the legacy, script-based installation (a command link in
/// ~/.local/bin, support files in the support folder, a user launch agent).
///
/// It leans one way: nothing is called removable unless it is exactly what the legacy installer
/// made, reached without a symbolic link on the way and, for the agent, owned by the current
/// user. Anything else is an error and left alone. It only ever reads the file system.
class InstallationPaths {
public:
    /// A legacy agent larger than this is not the one the legacy installer wrote.
    static constexpr std::size_t maximumLegacyAgentSize = 16384;
    /// The launchd label of the legacy agent.
    static constexpr const char* legacyAgentLabel = "com.orvanne.tessaly";

    /// The locations of the user whose home folder is `home`, with the system's Applications
    /// folder and the current user id.
    explicit InstallationPaths(const std::string& home);
    /// Lets tests stand in a system Applications folder and an account that owns nothing.
    InstallationPaths(const std::string& home, const std::string& systemApplicationsFolder,
                      std::uint32_t userID);
    /// The locations of the user running this process.
    static InstallationPaths forCurrentUser();

    /// The home folder, standardized; every per-user location lies below it.
    const std::string& home() const { return home_; }
    /// "Applications/Tessaly.app" under the home folder: one of the two installed places.
    std::string userApplicationsCopy() const;
    /// "/Applications/Tessaly.app": the other installed place.
    std::string systemApplicationsCopy() const;
    /// The helper inside the user Applications copy; one program a legacy agent may name.
    std::string installedHelper() const;
    /// "Library/Application Support/Tessaly": the legacy files and the audio preference file.
    std::string supportFolder() const;
    /// The support folder's "tessaly": the only destination the legacy command link may have.
    std::string legacySupportCommand() const;
    /// The support folder's "tessaly-helper": the other program a legacy agent may name.
    std::string legacySupportHelper() const;
    /// The four files the legacy installer put in the support folder, in removal order.
    std::vector<std::string> legacySupportFiles() const;
    /// ".local/bin/tessaly": the legacy installer's command link.
    std::string legacyCommandLink() const;
    /// "Library/LaunchAgents/com.orvanne.tessaly.plist": the legacy per-user launch agent.
    std::string legacyAgent() const;

    /// Whether `bundlePath` is one of the two Applications copies, reached without any link.
    bool isInstalled(const std::string& bundlePath) const;
    /// Whether the legacy installer's own agent is present. False when there is no agent file;
    /// throws when the file is redirected, unreadable, or anything but that agent.
    bool validateLegacyAgent() const;
    /// What an uninstall may delete, in order: the command link, the support files, the agent.
    /// Throws, listing nothing, when any of them is not what the legacy installer made.
    std::vector<std::string> removableLegacyFiles() const;
    /// Whether a plain file is at `path`, reached without redirection: false when nothing is
    /// there, throws for a link, a folder or a path through a linked folder.
    static bool existingRegularFile(const std::string& path);

private:
    bool isLegacyAgentDefinition(const CFValue& definition) const;
    [[noreturn]] void refuseLegacyAgent() const;
    /// The command link, when it is exactly the legacy installer's; nothing when it is missing.
    std::vector<std::string> removableCommandLink() const;

    std::string home_;
    std::string systemApplicationsFolder_;
    std::uint32_t userID_;
};

}  // namespace tessaly
