#pragma once
// Port: the workspace (NSWorkspace, NSRunningApplication). Plain C++; implementations live in
// platform/simulated (the simulated desktop) and platform/posix (xdg-open, the freedesktop.org Trash).

#include <optional>
#include <string>
#include <vector>

#include "values/ProcessID.h"

namespace tessaly {

/// One running application, as NSRunningApplication describes it.
struct RunningApplication {
    ProcessID processIdentifier = 0;
    std::optional<std::string> bundleIdentifier;

    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

class Workspace {
public:
    virtual ~Workspace() = default;

    /// +[NSRunningApplication runningApplicationsWithBundleIdentifier:], in no promised order.
    virtual std::vector<RunningApplication> runningApplications(
        const std::string& bundleIdentifier) const = 0;
    /// -[NSWorkspace openURL:]: whether the URL was handed to the application that opens it.
    virtual bool openURL(const std::string& url) = 0;
    /// -[NSWorkspace selectFile:nil inFileViewerRootedAtPath:]: shows the folder in the file
    /// viewer; whether that worked.
    virtual bool revealFolder(const std::string& path) = 0;
    /// -[NSFileManager URLForDirectory:NSTrashDirectory inDomain:NSUserDomainMask
    /// appropriateForURL:create:YES error:]: the Trash that would take the item at `path`, created
    /// when missing. Throws the platform's error when no Trash can take it.
    virtual std::string trashFolderFor(const std::string& path) = 0;
    /// -[NSFileManager trashItemAtURL:resultingItemURL:error:]: moves the item to the user's Trash.
    /// Throws the platform's error when it cannot, described as the platform describes it (on Linux
    /// a FileError, on a Mac Foundation's localized description).
    virtual void trashItem(const std::string& path) = 0;
};

}  // namespace tessaly
