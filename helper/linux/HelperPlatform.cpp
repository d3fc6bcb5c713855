#include "HelperPlatform.h"

#include "session/SessionAccessibility.h"
#include "session/SessionCoreAudio.h"
#include "session/SessionWorkspace.h"
#include "simulated/SimulatedCoreAudio.h"
#include "simulated/SimulatedWorkspace.h"

namespace tessaly {

namespace {

// The session's adapters when one answers at start, otherwise the embedded world.
HelperPlatform::World makeWorld(const std::shared_ptr<SessionConnection>& session, AsioRunLoop& runLoop,
                                Workspace& files) {
    HelperPlatform::World world;
    if (session) {
        world.audio = std::make_unique<SessionCoreAudio>(session);
        world.accessibility = std::make_unique<SessionAccessibility>(session, &runLoop);
        world.workspace = std::make_unique<SessionWorkspace>(session, files);
        return world;
    }
    world.embeddedDesktop = std::make_unique<SimulatedDesktop>(runLoop);
    world.audio = std::make_unique<SimulatedCoreAudio>();
    world.workspace = std::make_unique<SimulatedWorkspace>(*world.embeddedDesktop);
    return world;
}

}  // namespace

HelperPlatform::HelperPlatform(Log& log_) : HelperPlatform(log_, RuntimeDirectory::forCurrentUser()) {}

HelperPlatform::HelperPlatform(Log& log_, const RuntimeDirectory& runtime)
    : log(log_),
      runLoop(),
      ports(runtime, runLoop, log_),
      session_(SessionConnection::connectIfRunning(runtime, "tessaly-helper")),
      world_(makeWorld(session_, runLoop, files_)),
      audio(*world_.audio),
      accessibility(world_.accessibility ? *world_.accessibility
                                         : static_cast<Accessibility&>(*world_.embeddedDesktop)),
      workspace(*world_.workspace) {}

HelperPlatform::~HelperPlatform() = default;

}  // namespace tessaly
