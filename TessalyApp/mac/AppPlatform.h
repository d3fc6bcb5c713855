#pragma once

#include <functional>

#include "mac/MacAccessibility.h"
#include "mac/MacLog.h"
#include "mac/MacMessagePorts.h"
#include "mac/MacProcessEnvironment.h"
#include "mac/MacServiceManagement.h"
#include "mac/MacWorkspace.h"
#include "posix/PosixCommands.h"
#include "setup/SetupService.h"

namespace tessaly {

/// The setup application's composition root on a Mac: the process, Service Management, launchctl,
/// the workspace, the status port and Accessibility, each through its framework.
class AppPlatform {
public:
    /// This system's process environment, which the command line needs before the platform is built.
    using Process = MacProcessEnvironment;

    /// `sleep` is the setup service's: it waits for the helper between probes.
    explicit AppPlatform(std::function<void(double)> sleep);

    MacLog log;
    MacAccessibility accessibility;
    MacProcessEnvironment process;
    MacServiceManagement serviceManagement;
    PosixCommands commands;
    MacWorkspace workspace;
    MacMessagePorts ports;
    SetupService service;
};

}  // namespace tessaly
