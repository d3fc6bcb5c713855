#pragma once

#include "mac/MacAccessibility.h"
#include "mac/MacApplication.h"
#include "mac/MacCoreAudio.h"
#include "mac/MacLog.h"
#include "mac/MacMessagePorts.h"
#include "mac/MacProcessEnvironment.h"
#include "mac/MacRunLoop.h"
#include "mac/MacWorkspace.h"
#include "service/MuteService.h"

namespace tessaly {

/// The helper's composition root on a Mac: Core Audio, Accessibility, the workspace, the main run
/// loop, the status port, the process and the application, each through its framework.
class HelperPlatform {
public:
    /// Where the helper logs on this system.
    using SystemLog = MacLog;

    explicit HelperPlatform(Log& log);

    Log& log;
    MacRunLoop runLoop;
    MacMessagePorts ports;
    MacCoreAudio audio;
    MacAccessibility accessibility;
    MacWorkspace workspace;
    MacProcessEnvironment process;
    MacApplication application;
};

}  // namespace tessaly
