#pragma once

#include <memory>

#include "AsioRunLoop.h"
#include "MuteService.h"
#include "PosixMessagePorts.h"
#include "PosixProcessEnvironment.h"
#include "SimulatedCoreAudio.h"
#include "SimulatedDesktop.h"

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
    PosixProcessEnvironment process;
};

}  // namespace tessaly
