#include "setup/InstallationPaths.h"

#include <cerrno>

#include "foundation/FileError.h"
#include "foundation/FileSystem.h"
#include "foundation/TessalyError.h"
#include "values/PropertyList.h"

namespace tessaly {

namespace {

constexpr const char* bundleName = "Tessaly.app";

[[noreturn]] void refuseRedirectedPath(const std::string& path) {
    throw TessalyError("Refusing a redirected or non-file installation path: " + path + ".");
}

[[noreturn]] void refuseReplacedCommand() {
    throw TessalyError("The tessaly command has been replaced and will not be removed.");
}

}  // namespace

InstallationPaths::InstallationPaths(const std::string& home)
    : InstallationPaths(home, "/Applications", FileSystem::currentUserID()) {}

InstallationPaths::InstallationPaths(const std::string& home, const std::string& systemApplicationsFolder,
                                     std::uint32_t userID)
    : home_(FileSystem::standardizedPath(home)),
      systemApplicationsFolder_(FileSystem::standardizedPath(systemApplicationsFolder)),
      userID_(userID) {}

InstallationPaths InstallationPaths::forCurrentUser() {
    return InstallationPaths(FileSystem::homeDirectory());
}

std::string InstallationPaths::userApplicationsCopy() const {
    return home_ + "/Applications/" + bundleName;
}

std::string InstallationPaths::systemApplicationsCopy() const {
    return systemApplicationsFolder_ + "/" + bundleName;
}

std::string InstallationPaths::installedHelper() const {
    return userApplicationsCopy() + "/Contents/MacOS/tessaly-helper";
}

std::string InstallationPaths::supportFolder() const {
    return home_ + "/Library/Application Support/Tessaly";
}

std::string InstallationPaths::legacySupportCommand() const {
    return supportFolder() + "/tessaly";
}

std::string InstallationPaths::legacySupportHelper() const {
    return supportFolder() + "/tessaly-helper";
}

std::vector<std::string> InstallationPaths::legacySupportFiles() const {
    return {legacySupportCommand(), supportFolder() + "/install-common.sh",
            supportFolder() + "/signing-identity", legacySupportHelper()};
}

std::string InstallationPaths::legacyCommandLink() const {
    return home_ + "/.local/bin/tessaly";
}

std::string InstallationPaths::legacyAgent() const {
    return home_ + "/Library/LaunchAgents/com.orvanne.tessaly.plist";
}

bool InstallationPaths::isInstalled(const std::string& bundlePath) const {
    const std::string standardized = FileSystem::standardizedPath(bundlePath);
    if (standardized != userApplicationsCopy() && standardized != systemApplicationsCopy()) return false;
    try {
        // Resolution differs from the standardized path exactly when a link is on the way.
        return FileSystem::resolvingSymbolicLinks(bundlePath) == standardized;
    } catch (const FileError&) {
        // A copy that is gone, or cannot be resolved, cannot be shown to be reached without a link.
        return false;
    }
}

bool InstallationPaths::validateLegacyAgent() const {
    const std::string agent = legacyAgent();
    if (!existingRegularFile(agent)) return false;

    std::string bytes;
    try {
        bytes = FileSystem::readBounded(agent, maximumLegacyAgentSize);
    } catch (const FileError& error) {
        // A link (ELOOP) or another kind of file (EINVAL) swapped in since the check above.
        if (error.errorNumber() == ELOOP || error.errorNumber() == EINVAL) refuseRedirectedPath(agent);
        throw;
    }
    if (bytes.size() > maximumLegacyAgentSize) refuseLegacyAgent();
    if (!isLegacyAgentDefinition(PropertyList::parse(bytes))) refuseLegacyAgent();
    if (FileSystem::linkStatus(agent).owner != userID_) refuseLegacyAgent();
    return true;
}

std::vector<std::string> InstallationPaths::removableLegacyFiles() const {
    std::vector<std::string> files = removableCommandLink();
    for (const auto& file : legacySupportFiles()) {
        if (existingRegularFile(file)) files.push_back(file);
    }
    if (validateLegacyAgent()) files.push_back(legacyAgent());
    return files;
}

bool InstallationPaths::existingRegularFile(const std::string& path) {
    FileSystem::LinkStatus status;
    try {
        status = FileSystem::linkStatus(path);
    } catch (const FileError& error) {
        if (error.code() == FileError::Code::noSuchFile) return false;
        throw;
    }
    if (!status.isRegularFile || status.isSymbolicLink) refuseRedirectedPath(path);
    // A linked folder anywhere on the way makes the resolved path differ from the written one.
    if (FileSystem::standardizedPath(path) != FileSystem::resolvingSymbolicLinks(path))
        refuseRedirectedPath(path);
    return true;
}

bool InstallationPaths::isLegacyAgentDefinition(const CFValue& definition) const {
    const CFDictionary* dictionary = definition.dictionary();
    if (!dictionary) return false;

    const auto label = dictionary->find("Label");
    if (label == dictionary->end() || !(label->second == CFValue(legacyAgentLabel))) return false;

    const auto arguments = dictionary->find("ProgramArguments");
    if (arguments == dictionary->end()) return false;
    const CFArray* list = arguments->second.array();
    if (!list || list->size() != 2) return false;
    const std::string* program = (*list)[0].text();
    const std::string* mode = (*list)[1].text();
    if (!program || !mode || *mode != "run") return false;
    return *program == installedHelper() || *program == legacySupportHelper();
}

void InstallationPaths::refuseLegacyAgent() const {
    throw TessalyError("An unrecognized launch agent was left untouched at " + legacyAgent() + ".");
}

std::vector<std::string> InstallationPaths::removableCommandLink() const {
    const std::string link = legacyCommandLink();
    try {
        if (!FileSystem::linkStatus(link).isSymbolicLink) refuseReplacedCommand();
        // Compared as text: a relative link, or another spelling of the same file, is not the
        // legacy installer's link.
        if (FileSystem::symbolicLinkDestination(link) != legacySupportCommand()) refuseReplacedCommand();
        return {link};
    } catch (const FileError& error) {
        if (error.code() == FileError::Code::noSuchFile) return {};
        throw;
    }
}

}  // namespace tessaly
