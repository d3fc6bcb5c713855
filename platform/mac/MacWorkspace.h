#pragma once

#include "ports/Workspace.h"

namespace tessaly {

/// The workspace over NSWorkspace, NSRunningApplication and NSFileManager (Objective-C++). A Trash
/// that cannot be found throws TessalyError with Foundation's description (or a sentence of ours);
/// an item that cannot be trashed throws FileError with the POSIX error underneath, if any.
class MacWorkspace : public Workspace {
public:
    std::vector<RunningApplication> runningApplications(const std::string& bundleIdentifier) const override;
    bool openURL(const std::string& url) override;
    bool revealFolder(const std::string& path) override;
    std::string trashFolderFor(const std::string& path) override;
    void trashItem(const std::string& path) override;
};

}  // namespace tessaly
