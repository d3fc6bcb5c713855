#pragma once

#include <optional>
#include <string>

#include "preference/AudioPreference.h"

namespace tessaly {

/// Where the remembered choice lives, and the rules for reading and writing it: a regular file
/// of at most 4096 bytes, never a link, in a 0700 folder, 0600 itself, replaced atomically.
class PreferenceStore {
public:
    /// The largest preference file that is read.
    static constexpr std::size_t maximumFileSize = 4096;

    explicit PreferenceStore(std::string path) : path_(std::move(path)) {}
    /// The store of the user whose home folder is `home`.
    static PreferenceStore forHome(const std::string& home);

    const std::string& path() const { return path_; }

    /// Refuses anything but a regular, small file that is not a link. A missing file throws a
    /// FileError with code noSuchFile.
    void validateExistingFile() const;
    /// Reads and decodes the stored choice.
    AudioPreference load() const;
    /// The stored choice, or nothing when no file exists yet; every other failure throws.
    std::optional<AudioPreference> loadIfPresent() const;
    /// Writes the choice atomically. On failure the previous file stays as it was.
    void save(const AudioPreference& preference) const;
    /// Whether nothing at all is at the path (a link or another kind of file is something).
    bool isMissing() const;

private:
    std::string path_;
};

}  // namespace tessaly
