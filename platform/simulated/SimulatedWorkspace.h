#pragma once

#include <string>
#include <vector>

#include "ports/Workspace.h"

namespace tessaly {

class SimulatedDesktop;

/// An in-memory workspace: it lists the applications running on a simulated desktop and records
/// the URLs opened, the folders revealed and the items trashed. Tests refuse or fail each of them.
class SimulatedWorkspace : public Workspace {
public:
    explicit SimulatedWorkspace(const SimulatedDesktop& desktop) : desktop_(desktop) {}

    std::vector<RunningApplication> runningApplications(const std::string& bundleIdentifier) const override;
    /// Records the URL; fails while opening is refused.
    bool openURL(const std::string& url) override;
    /// Records the folder; fails while revealing is refused.
    bool revealFolder(const std::string& path) override;
    /// "/Trash"; throws while no Trash can be found.
    std::string trashFolderFor(const std::string& path) override;
    /// Records the item as trashed (the file itself is left where it is); throws while trashing fails.
    void trashItem(const std::string& path) override;

    /// URLs opened so far, in order.
    const std::vector<std::string>& openedURLs() const { return openedURLs_; }
    /// Makes openURL fail (nothing handles the URL).
    void refuseOpeningURLs(bool refuse = true) { refusesURLs_ = refuse; }
    /// Folders revealed so far, in order.
    const std::vector<std::string>& revealedFolders() const { return revealedFolders_; }
    /// Makes revealFolder fail (the file viewer does not answer).
    void refuseRevealing(bool refuse = true) { refusesRevealing_ = refuse; }
    /// Items moved to the Trash so far, in order.
    const std::vector<std::string>& trashedItems() const { return trashedItems_; }
    /// Makes trashItem fail with this errno (0: succeed again).
    void failTrashing(int errorNumber) { trashError_ = errorNumber; }
    /// Makes trashFolderFor fail with this errno (0: succeed again).
    void failFindingTrash(int errorNumber) { trashFolderError_ = errorNumber; }

private:
    const SimulatedDesktop& desktop_;
    std::vector<std::string> openedURLs_;
    bool refusesURLs_ = false;
    std::vector<std::string> revealedFolders_;
    bool refusesRevealing_ = false;
    std::vector<std::string> trashedItems_;
    int trashError_ = 0;
    int trashFolderError_ = 0;
};

}  // namespace tessaly
