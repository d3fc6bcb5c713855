#include "preference/PreferenceStore.h"

#include <cerrno>

#include "foundation/FileError.h"
#include "foundation/FileSystem.h"
#include "foundation/TessalyError.h"

namespace tessaly {

namespace {

constexpr std::uint32_t folderPermissions = 0700;
constexpr std::uint32_t filePermissions = 0600;

[[noreturn]] void refuseFile() {
    throw TessalyError("The saved audio preference is not a regular, small configuration file.");
}

}  // namespace

PreferenceStore PreferenceStore::forHome(const std::string& home) {
    return PreferenceStore(home + "/Library/Application Support/Tessaly/audio.json");
}

void PreferenceStore::validateExistingFile() const {
    const FileSystem::LinkStatus status = FileSystem::linkStatus(path_);
    if (!status.isRegularFile || status.isSymbolicLink || status.size > maximumFileSize) refuseFile();
}

AudioPreference PreferenceStore::load() const {
    validateExistingFile();
    // The file may have changed since it was checked: the read itself refuses links, and
    // reads one byte past the limit so a file that grew meanwhile is refused too.
    std::string bytes;
    try {
        bytes = FileSystem::readBounded(path_, maximumFileSize);
    } catch (const FileError& error) {
        // A link (ELOOP under O_NOFOLLOW) or a non-regular file swapped in after the check.
        if (error.errorNumber() == ELOOP || error.errorNumber() == EINVAL) refuseFile();
        throw;
    }
    if (bytes.size() > maximumFileSize) refuseFile();
    return AudioPreference::fromJson(Json::parse(bytes));
}

bool PreferenceStore::isMissing() const {
    try {
        FileSystem::linkStatus(path_);
        return false;
    } catch (const FileError& error) {
        return error.code() == FileError::Code::noSuchFile;
    }
}

std::optional<AudioPreference> PreferenceStore::loadIfPresent() const {
    try {
        return load();
    } catch (const FileError& error) {
        if (error.code() == FileError::Code::noSuchFile) return std::nullopt;
        throw;
    }
}

void PreferenceStore::save(const AudioPreference& preference) const {
    const std::string folder = FileSystem::parentPath(path_);
    FileSystem::createDirectories(folder, folderPermissions);
    const FileSystem::LinkStatus folderStatus = FileSystem::linkStatus(folder);
    if (!folderStatus.isDirectory || folderStatus.isSymbolicLink) {
        throw TessalyError("Refusing a redirected audio-preference directory.");
    }
    if (FileSystem::exists(path_)) validateExistingFile();
    FileSystem::writeAtomically(path_, Json::writePretty(preference.toJson()), filePermissions);
}

}  // namespace tessaly
