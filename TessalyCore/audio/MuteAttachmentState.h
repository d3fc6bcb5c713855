#pragma once

#include <string>
#include <vector>

#include "values/CATapDescription.h"

namespace tessaly {

/// What Core Audio reports about a mute tap's attachment, read back to check that it is still a
/// private, stopped device holding nothing but the tap.
struct MuteAttachmentState {
    /// The "private" entry of the attachment's composition.
    bool isPrivate = false;
    /// UIDs of the taps in the attachment.
    std::vector<std::string> tapUIDs;
    /// UIDs of every sub-device of the attachment.
    std::vector<std::string> subDeviceUIDs;
    /// Object ids of the attachment's output streams.
    std::vector<AudioObjectID> outputStreams;
    /// Whether the device is doing audio I/O.
    bool isRunning = false;
};

}  // namespace tessaly
