#pragma once

#include <memory>

#include "posix/AsioRunLoop.h"
#include "posix/PosixMessagePorts.h"
#include "posix/PosixProcessEnvironment.h"
#include "service/MuteService.h"
#include "simulated/SimulatedCoreAudio.h"
#include "simulated/SimulatedDesktop.h"
#include "simulated/SimulatedWorkspace.h"

namespace tessaly {

/// The helper's composition root on Linux: the real run loop, status port, log and process, with
/// Core Audio and the desktop simulated as an embedded world that has no Quick Look process and no
/// Finder window, and trusts the helper for Accessibility.
class HelperPlatform {
public:
    explicit HelperPlatform(Log& log);

    /// The services the mute service runs on; exiting ends the process.
    MuteServicePlatform muteServicePlatform();

    Log& log;
    AsioRunLoop runLoop;
    PosixMessagePorts ports;
    SimulatedCoreAudio audio;
    SimulatedDesktop desktop{runLoop};
    SimulatedWorkspace workspace{desktop};
    PosixProcessEnvironment process;
};

}  // namespace tessaly
