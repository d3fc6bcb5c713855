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
/// trashItem follows the freedesktop.org Trash standard: the item moves to <Trash>/files under a
/// free name (its own name, else "name.2", "name.3", ...), after <Trash>/info/<that name>.trashinfo
/// has been created exclusively with its original path (percent-encoded) and the local deletion
/// time; a trashed folder also gets its line in <Trash>/directorysizes. A symbolic link is moved
/// itself, never its destination. The Trash is the home Trash for an item on its file system;
/// for an item on another one it is $topdir/.Trash/$uid when $topdir/.Trash is a real folder with
/// the sticky bit, else $topdir/.Trash-$uid, with paths relative to $topdir. Items are always
/// renamed, never copied: a copy of an application bundle that fails halfway would leave two
/// broken halves.
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
    /// The Trash as described above, created when missing. Throws FileError when the item cannot be
    /// reached, TessalyError when no Trash on its file system can take it.
    std::string trashFolderFor(const std::string& path) override;
    /// Throws as trashFolderFor, FileError when the item cannot be moved, TessalyError for an item
    /// inside the Trash already.
    void trashItem(const std::string& path) override;

    /// The Trash folder items are moved to.
    const std::string& trashFolder() const { return trashFolder_; }

private:
    /// A Trash folder, and the top of the file system it serves when that is not the home Trash.
    struct Trash {
        std::string folder;
        std::string topdir;
    };

    Trash trashFor(const std::string& item) const;
    bool openWithDesktop(const std::string& argument) const;

    std::string trashFolder_;
    std::string searchPath_;
};

}  // namespace tessaly
