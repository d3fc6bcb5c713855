#pragma once
// The tap description is an Objective-C object (CATapDescription, toll-free a CFTypeRef): its
// making, reading and the process-tap calls live in apple/MacTapDescription.mm, the only
// Objective-C++ of the Core Audio adapter (<CoreAudio/AudioHardwareTapping.h> declares both tap
// calls for Objective-C only).

#include <optional>

#include "mac/CFReference.h"
#include "ports/CoreAudio.h"
#include "values/CATapDescription.h"

namespace tessaly::MacTapDescription {

/// A new description object with these settings (the caller owns it).
CFReference create(const CATapDescription& description);
/// The settings of a description object; none when `object` is not a tap description.
std::optional<CATapDescription> read(CFTypeRef object);
/// AudioHardwareCreateProcessTap with a description object made from `description`.
OSStatus createProcessTap(const CATapDescription& description, AudioObjectID& outTapID);
/// AudioHardwareDestroyProcessTap.
OSStatus destroyProcessTap(AudioObjectID tapID);

}  // namespace tessaly::MacTapDescription
