#pragma once

#include <cstdint>
#include <string>

#include "values/CATapDescription.h"

namespace tessaly {

/// One Core Audio process object that passed the mute rule.
struct AudioProcess {
    /// Object id of the process object; keys the per-process taps.
    AudioObjectID id = 0;
    /// Process id, reported as a preview process id.
    std::int32_t pid = 0;
    /// Bundle identifier; always the Quick Look UI service's in a discovery result.
    std::string bundleID;
    /// Whether the process is producing output at this moment.
    bool isPlaying = false;

    friend bool operator==(const AudioProcess&, const AudioProcess&) = default;
};

}  // namespace tessaly
