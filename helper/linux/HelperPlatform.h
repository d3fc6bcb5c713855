#pragma once

#include <memory>

#include "posix/AsioRunLoop.h"
#include "posix/PosixMessagePorts.h"
#include "posix/PosixProcessEnvironment.h"
#include "posix/PosixWorkspace.h"
#include "posix/SyslogLog.h"
#include "service/MuteService.h"
#include "session/SessionConnection.h"
#include "simulated/SimulatedApplication.h"
#include "simulated/SimulatedDesktop.h"

namespace tessaly {

/// The helper's composition root on Linux: the real run loop, status port, log and process. Core
/// Audio, Accessibility and the running applications are those of the user's simulated session
/// (tessaly-session) when its socket answers at start; otherwise an embedded world that has no
/// Quick Look process and no Finder window, and trusts the helper for Accessibility. The process as
/// an application is its run loop.
class HelperPlatform {
public:
    /// Where the helper logs on this system.
    using SystemLog = SyslogLog;

    explicit HelperPlatform(Log& log);
    ~HelperPlatform();

    /// The ports a session answers, or the embedded world's.
    struct World {
        std::unique_ptr<SimulatedDesktop> embeddedDesktop;
        std::unique_ptr<CoreAudio> audio;
        std::unique_ptr<Accessibility> accessibility;
        std::unique_ptr<Workspace> workspace;
    };

    Log& log;
    AsioRunLoop runLoop;
    PosixMessagePorts ports;
    PosixProcessEnvironment process;
    SimulatedApplication application{runLoop};

private:
    HelperPlatform(Log& log, const RuntimeDirectory& runtime);

    PosixWorkspace files_;
    std::shared_ptr<SessionConnection> session_;
    World world_;

public:
    CoreAudio& audio;
    Accessibility& accessibility;
    Workspace& workspace;
};

}  // namespace tessaly
