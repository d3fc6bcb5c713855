#pragma once

#include "posix/PosixLaunchctl.h"
#include "posix/PosixMessagePorts.h"
#include "posix/PosixProcessEnvironment.h"
#include "posix/PosixServiceManagement.h"
#include "posix/PosixWorkspace.h"
#include "posix/SyslogLog.h"
#include "session/SessionConnection.h"
#include "setup/SetupService.h"

#include <functional>
#include "simulated/SimulatedDesktop.h"

#include <memory>

namespace tessaly {

/// The setup application's composition root on Linux: the real process, login items, the
/// launchctl stand-in, workspace and status port. Accessibility trust is the user's simulated
/// session's (tessaly-session) when its socket answers at start; otherwise an empty simulated
/// desktop trusts the application (Linux has no Accessibility permission to grant).
class AppPlatform {
public:
    /// This system's process environment, which the command line needs before the platform is built.
    using Process = PosixProcessEnvironment;

    /// `sleep` is the setup service's: it waits for the helper between probes.
    explicit AppPlatform(std::function<void(double)> sleep);
    ~AppPlatform();

    SyslogLog log;
    std::shared_ptr<SessionConnection> session;
    std::unique_ptr<Accessibility> desktop;
    PosixProcessEnvironment process;
    PosixServiceManagement serviceManagement;
    PosixLaunchctl commands;
    PosixWorkspace workspace;
    PosixMessagePorts ports;
    SetupService service;
};

}  // namespace tessaly
