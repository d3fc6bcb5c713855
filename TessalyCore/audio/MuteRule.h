#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "audio/AudioProcess.h"
#include "audio/MuteAttachmentState.h"
#include "values/CATapDescription.h"
#include "values/CFValue.h"

namespace tessaly {

/// The rule of the mute guard: which processes it silences, the tap and attachment descriptions
/// it hands to Core Audio, and the checks that Core Audio kept them.
namespace MuteRule {

/// The only bundle identifier the guard targets; compared exactly.
inline constexpr std::string_view targetBundleID = "com.apple.quicklook.QuickLookUIService";
/// Name of every tap the guard makes.
inline constexpr std::string_view tapName = "Tessaly - muted previews";
/// Name of every private aggregate device that holds a tap.
inline constexpr std::string_view attachmentName = "Tessaly - private mute attachment";
/// Start of every attachment UID; a fresh UUID follows.
inline constexpr std::string_view attachmentUIDPrefix = "com.orvanne.tessaly.tap.";

/// Keeps the Quick Look UI service processes, ordered by object id (stable for equal ids).
std::vector<AudioProcess> matchingProcesses(std::vector<AudioProcess> processes);

/// The bundle tap: mutes every process of the target bundle identifier, and restores itself to
/// processes that relaunch.
CATapDescription bundleDescription();

/// The per-process tap: mutes exactly one process object, without bundle targeting or restoration.
CATapDescription processDescription(AudioObjectID processID);

/// The private aggregate device that holds the tap `tapUID` and nothing else; a new UID each call.
CFDictionary attachmentDescription(const std::string& tapUID);

/// Shared description check: not exclusive, private, muted, no device. Throws TessalyError.
void validateMuteProperties(const CATapDescription& description);

/// Checks a bundle tap's description as Core Audio kept it. Throws TessalyError.
void validateBundle(const CATapDescription& description);

/// Checks a per-process tap's description as Core Audio kept it. Throws TessalyError.
void validateProcess(const CATapDescription& description, AudioObjectID processID);

/// Checks that an attachment is private, stopped and holds only the tap `expectedTapUID`.
/// Throws TessalyError.
void validateAttachment(const MuteAttachmentState& state, const std::string& expectedTapUID);

}  // namespace MuteRule

}  // namespace tessaly
