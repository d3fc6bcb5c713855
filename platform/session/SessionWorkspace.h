#pragma once

#include <memory>

#include "ports/Workspace.h"
#include "session/SessionConnection.h"

namespace tessaly {

/// The workspace of a running simulated session: its running applications, and the URLs and
/// folders its desktop opens. Files are real, so the Trash is the one of `files`.
class SessionWorkspace : public Workspace {
public:
    SessionWorkspace(std::shared_ptr<SessionConnection> connection, Workspace& files)
        : connection_(std::move(connection)), files_(files) {}

    /// None once the session is gone.
    std::vector<RunningApplication> runningApplications(const std::string& bundleIdentifier) const override;
    bool openURL(const std::string& url) override;
    bool revealFolder(const std::string& path) override;
    std::string trashFolderFor(const std::string& path) override { return files_.trashFolderFor(path); }
    void trashItem(const std::string& path) override { files_.trashItem(path); }

private:
    std::shared_ptr<SessionConnection> connection_;
    Workspace& files_;
};

}  // namespace tessaly
