#pragma once

#include "posix/PosixLaunchctl.h"
#include "posix/PosixMessagePorts.h"
#include "posix/PosixProcessEnvironment.h"
#include "posix/PosixServiceManagement.h"
#include "posix/PosixWorkspace.h"
#include "posix/SyslogLog.h"
#include "setup/SetupService.h"
#include "simulated/SimulatedDesktop.h"

namespace tessaly {

/// The setup application's composition root on Linux: the real process, login items, the
/// launchctl stand-in, workspace and status port, with Accessibility answered by an empty simulated
/// desktop that trusts the application (Linux has no Accessibility permission to grant).
class AppPlatform {
public:
    AppPlatform();

    SyslogLog log;
    SimulatedDesktop desktop;
    PosixProcessEnvironment process;
    PosixServiceManagement serviceManagement;
    PosixLaunchctl commands;
    PosixWorkspace workspace;
    PosixMessagePorts ports;
    SetupService service;
};

}  // namespace tessaly
