#pragma once

#include <optional>
#include <string>

#include "ports/CoreAudio.h"
#include "ports/Log.h"
#include "values/CATapDescription.h"

namespace tessaly {

/// A process tap that mutes, and the private aggregate device (its attachment) that holds it.
struct MuteTap {
    /// Object id of the process tap.
    AudioObjectID id = kAudioObjectUnknown;
    /// Object id of the private aggregate device that holds the tap.
    AudioObjectID attachmentID = kAudioObjectUnknown;
    /// The tap's UID as Core Audio reports it.
    std::string uid;

    /// Creates the tap and its attachment and verifies the attachment. On failure nothing it
    /// created remains (failed clean-up is logged in category "tap") and the error is thrown.
    static MuteTap create(CoreAudio& audio, Log& log, const CATapDescription& description);

    /// Reads the attachment back from Core Audio and checks it. Throws.
    void validateAttachment(CoreAudio& audio) const;

    /// The tap's description as Core Audio kept it. Throws; a value that is no tap description
    /// means the mute rule was not retained.
    CATapDescription readDescription(CoreAudio& audio) const;

    /// Destroys the attachment, then the tap (always both). Returns the failure sentence when
    /// either call failed, nothing otherwise.
    std::optional<std::string> remove(CoreAudio& audio) const;

    friend bool operator==(const MuteTap&, const MuteTap&) = default;
};

}  // namespace tessaly
