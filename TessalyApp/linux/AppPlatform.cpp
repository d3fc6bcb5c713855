#include "AppPlatform.h"

#include <chrono>
#include <thread>

#include "session/SessionAccessibility.h"

namespace tessaly {

namespace {

void sleepFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// The session's trust when one answers; the application never observes notifications.
std::unique_ptr<Accessibility> makeAccessibility(const std::shared_ptr<SessionConnection>& session) {
    if (session) return std::make_unique<SessionAccessibility>(session, nullptr);
    return std::make_unique<SimulatedDesktop>();
}

}  // namespace

AppPlatform::AppPlatform()
    : session(SessionConnection::connectIfRunning(RuntimeDirectory::forCurrentUser(), "Tessaly")),
      desktop(makeAccessibility(session)),
      serviceManagement(process.mainBundle().path),
      ports(RuntimeDirectory::forCurrentUser()),
      service(SetupPlatform{process, serviceManagement, commands, workspace, ports, *desktop, sleepFor,
                            InstallationPaths::forCurrentUser()}) {}

AppPlatform::~AppPlatform() = default;

}  // namespace tessaly
