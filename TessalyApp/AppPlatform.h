#pragma once

#include "posix/AsioRunLoop.h"
#include "posix/PosixCommands.h"
#include "posix/PosixMessagePorts.h"
#include "posix/PosixProcessEnvironment.h"
#include "posix/PosixServiceManagement.h"
#include "posix/PosixWorkspace.h"
#include "posix/SyslogLog.h"
#include "setup/SetupService.h"
#include "simulated/SimulatedDesktop.h"

namespace tessaly {

/// The setup application's composition root on Linux: the real process, login items, launchctl,
/// workspace and status port, with Accessibility answered by a simulated desktop that trusts the
/// application (Linux has no Accessibility permission to grant).
class AppPlatform {
public:
    AppPlatform();

    SyslogLog log;
    AsioRunLoop runLoop;  // only delivers the simulated desktop's notifications; never turned
    SimulatedDesktop desktop{runLoop};
    PosixProcessEnvironment process;
    PosixServiceManagement serviceManagement;
    PosixCommands commands;
    PosixWorkspace workspace;
    PosixMessagePorts ports;
    SetupService service;
};

}  // namespace tessaly
