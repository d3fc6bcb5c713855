#pragma once
// The small file-system layer: the one place in the core that calls POSIX directly. Links are
// never followed unless a function says so; every failure is a FileError.

#include <cstdint>
#include <string>

namespace tessaly::FileSystem {

/// What lstat tells about a path, without following a link in its last component.
struct LinkStatus {
    bool isRegularFile = false;
    bool isDirectory = false;
    bool isSymbolicLink = false;
    std::uint64_t size = 0;
    std::uint32_t owner = 0;
    std::uint32_t permissions = 0;  // the mode's permission bits
};

/// lstat; throws FileError (code noSuchFile when nothing is there).
LinkStatus linkStatus(const std::string& path);

/// Whether something exists at `path`, following links (a dangling link does not exist).
bool exists(const std::string& path);

/// Reads a regular file without following a link, at most `limit` + 1 bytes, so a caller can
/// tell a file over its limit without reading all of it. Refuses anything but a regular file.
std::string readBounded(const std::string& path, std::size_t limit);

/// mkdir -p; folders it creates get exactly `permissions`. An existing folder is no error.
void createDirectories(const std::string& path, std::uint32_t permissions);

/// Replaces `path` with `bytes` atomically: a temporary file in the same folder, written,
/// given `permissions`, flushed to disk, then renamed over `path`. A reader sees either the old
/// or the new file, never a partial one. On failure the temporary file is removed.
void writeAtomically(const std::string& path, const std::string& bytes, std::uint32_t permissions);

/// The folder part of a path ("/a/b/c" -> "/a/b").
std::string parentPath(const std::string& path);

/// The current user's home folder: $HOME, or the password database when it is unset.
std::string homeDirectory();

/// The current user's id.
std::uint32_t currentUserID();

/// The path lexically normalised, as a standardized file URL reads: "." segments, repeated and
/// trailing slashes removed, ".." applied to the segment before it. Links are not consulted, so
/// the result names another file than `path` when a link stands before a "..".
std::string standardizedPath(const std::string& path);

/// The absolute path with every symbolic link on the way resolved (realpath). Comparing it with
/// `standardizedPath` tells whether a path is reached without redirection. Throws FileError
/// (code noSuchFile when a part of the path is missing).
std::string resolvingSymbolicLinks(const std::string& path);

/// The destination text of the symbolic link at `path`, exactly as stored: a relative link
/// stays relative. Throws FileError (EINVAL when `path` is not a link).
std::string symbolicLinkDestination(const std::string& path);

/// Removes the file or symbolic link at `path` (unlink): a link goes, never what it points to, and
/// a folder is refused. Throws FileError (code noSuchFile when nothing is there).
void removeFile(const std::string& path);

}  // namespace tessaly::FileSystem
