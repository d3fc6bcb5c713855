#include "AppPlatform.h"

#include <utility>

#include "session/SessionAccessibility.h"

namespace tessaly {

namespace {

// The session's trust when one answers; the application never observes notifications.
std::unique_ptr<Accessibility> makeAccessibility(const std::shared_ptr<SessionConnection>& session) {
    if (session) return std::make_unique<SessionAccessibility>(session, nullptr);
    return std::make_unique<SimulatedDesktop>();
}

}  // namespace

AppPlatform::AppPlatform(std::function<void(double)> sleep)
    : session(SessionConnection::connectIfRunning(RuntimeDirectory::forCurrentUser(), "Tessaly")),
      desktop(makeAccessibility(session)),
      serviceManagement(process.mainBundle().path),
      ports(RuntimeDirectory::forCurrentUser()),
      service(SetupPlatform{process, serviceManagement, commands, workspace, ports, *desktop,
                            std::move(sleep), InstallationPaths::forCurrentUser()}) {}

AppPlatform::~AppPlatform() = default;

}  // namespace tessaly
