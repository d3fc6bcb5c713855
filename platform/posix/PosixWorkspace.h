#pragma once

#include <string>

#include "ports/Workspace.h"

namespace tessaly {

/// The workspace on Linux.
///
/// runningApplications is always empty: Linux processes carry no bundle identifier, and the
/// applications the system asks about (Finder, Quick Look) do not exist here.
///
/// openURL and revealFolder hand the URL or the folder to xdg-open, found on the search path and
/// started detached, and answer whether it exited with status 0. xdg-open may instead wait until
/// the application it opened is closed, so it gets ten seconds; one still running then has found
/// an application and counts as success. Without an xdg-open, or for a folder that does not
/// exist, they answer false.
///
/// trashItem follows the freedesktop.org Trash standard for the home Trash: the item moves to
/// <Trash>/files under a free name (its own name, else "name.2", "name.3", ...), after
/// <Trash>/info/<that name>.trashinfo has been created exclusively with its original path
/// (percent-encoded) and the local deletion time. A symbolic link is moved itself, never its
/// destination. An item on another file system than the Trash is refused rather than copied: a
/// copy of an application bundle that fails halfway would leave two broken halves.
class PosixWorkspace : public Workspace {
public:
    /// The user's Trash ($XDG_DATA_HOME/Trash when that is an absolute path, otherwise
    /// ~/.local/share/Trash) and the search path $PATH.
    PosixWorkspace();
    /// An explicit Trash folder and search path (folders separated by ':').
    PosixWorkspace(std::string trashFolder, std::string searchPath);

    std::vector<RunningApplication> runningApplications(const std::string& bundleIdentifier) const override;
    bool openURL(const std::string& url) override;
    bool revealFolder(const std::string& path) override;
    /// Throws FileError when the item or the Trash cannot be reached or written, TessalyError when
    /// the item is on another file system than the Trash.
    void trashItem(const std::string& path) override;

    /// The Trash folder items are moved to.
    const std::string& trashFolder() const { return trashFolder_; }

private:
    bool openWithDesktop(const std::string& argument) const;

    std::string trashFolder_;
    std::string searchPath_;
};

}  // namespace tessaly
