#include "session/SessionWorkspace.h"

namespace tessaly {

std::vector<RunningApplication> SessionWorkspace::runningApplications(
    const std::string& bundleIdentifier) const {
    const auto reply = connection_->call(SessionProtocol::workspaceRunningApplications,
                                         SessionFrame::Writer().text(bundleIdentifier));
    if (!reply) return {};
    SessionFrame::Reader fields(*reply);
    std::vector<RunningApplication> applications;
    for (std::uint32_t count = fields.u32(); count > 0; --count) {
        RunningApplication application;
        application.processIdentifier = fields.i32();
        if (fields.boolean()) application.bundleIdentifier = fields.text();
        applications.push_back(std::move(application));
    }
    return applications;
}

bool SessionWorkspace::openURL(const std::string& url) {
    const auto reply = connection_->call(SessionProtocol::workspaceOpenURL, SessionFrame::Writer().text(url));
    return reply && SessionFrame::Reader(*reply).boolean();
}

bool SessionWorkspace::revealFolder(const std::string& path) {
    const auto reply =
        connection_->call(SessionProtocol::workspaceRevealFolder, SessionFrame::Writer().text(path));
    return reply && SessionFrame::Reader(*reply).boolean();
}

}  // namespace tessaly
