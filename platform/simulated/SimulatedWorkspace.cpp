#include "simulated/SimulatedWorkspace.h"

#include "foundation/FileError.h"
#include "simulated/SimulatedDesktop.h"

namespace tessaly {

std::vector<RunningApplication> SimulatedWorkspace::runningApplications(
    const std::string& bundleIdentifier) const {
    return desktop_.runningApplications(bundleIdentifier);
}

bool SimulatedWorkspace::openURL(const std::string& url) {
    if (refusesURLs_) return false;
    openedURLs_.push_back(url);
    return true;
}

bool SimulatedWorkspace::revealFolder(const std::string& path) {
    if (refusesRevealing_) return false;
    revealedFolders_.push_back(path);
    return true;
}

std::string SimulatedWorkspace::trashFolderFor(const std::string& path) {
    if (trashFolderError_ != 0) throw FileError("Finding the Trash for", path, trashFolderError_);
    return "/Trash";
}

void SimulatedWorkspace::trashItem(const std::string& path) {
    if (trashError_ != 0) throw FileError("Moving to the Trash", path, trashError_);
    trashedItems_.push_back(path);
}

}  // namespace tessaly
