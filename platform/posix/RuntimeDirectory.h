#pragma once

#include <sys/types.h>

#include <string>

namespace tessaly {

/// The user's runtime folder, where the message-port sockets live: $XDG_RUNTIME_DIR when it is set
/// to an absolute path (a relative one is ignored, as the XDG base directory rules ask), otherwise
/// /tmp/tessaly-<uid>.
///
/// The folder must be a real folder (not a symbolic link) owned by the user with no permissions for
/// anyone else, because whoever can write into it could pose as the helper. A folder that breaks
/// these rules is refused, never repaired: changing the permissions of a folder someone else set up
/// would hide the problem, and files planted while it was open would stay.
class RuntimeDirectory {
public:
    /// The folder for the current user, from the environment.
    static RuntimeDirectory forCurrentUser();

    /// A runtime folder at `path`, for the process's effective user.
    explicit RuntimeDirectory(std::string path);

    /// The folder's path, without a trailing slash.
    const std::string& path() const { return path_; }
    /// `name` inside the folder.
    std::string entry(const std::string& name) const;

    /// Creates the folder with mode 0700 when it is missing, then checks it (see checkExisting).
    void prepare() const;
    /// Whether the folder exists; throws TessalyError when it exists but is refused (a link, not a
    /// folder, another user's, or open to others) and FileError when it cannot be examined.
    bool checkExisting() const;

private:
    std::string path_;
    // The user the folder must belong to, read once: every port request checks the folder.
    uid_t owner_;
};

}  // namespace tessaly
