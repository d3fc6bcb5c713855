#include "audio/MuteRule.h"

#include <algorithm>

#include "foundation/TessalyError.h"
#include "foundation/Uuid.h"
#include "ports/CoreAudio.h"

namespace tessaly::MuteRule {

namespace {

// The settings both kinds of tap share.
CATapDescription muteDescription(std::vector<AudioObjectID> processes) {
    auto description = CATapDescription::stereoMixdownOfProcesses(std::move(processes));
    description.name = std::string(tapName);
    description.isExclusive = false;
    description.isPrivate = true;
    description.muteBehavior = CATapMuted;
    return description;
}

bool targetsOnlyTheBundle(const std::vector<std::string>& bundleIDs) {
    return bundleIDs.size() == 1 && bundleIDs.front() == targetBundleID;
}

}  // namespace

std::vector<AudioProcess> matchingProcesses(std::vector<AudioProcess> processes) {
    std::erase_if(processes, [](const AudioProcess& process) { return process.bundleID != targetBundleID; });
    std::stable_sort(processes.begin(), processes.end(),
                     [](const AudioProcess& a, const AudioProcess& b) { return a.id < b.id; });
    return processes;
}

CATapDescription bundleDescription() {
    auto description = muteDescription({});
    description.bundleIDs = {std::string(targetBundleID)};
    description.isProcessRestoreEnabled = true;
    return description;
}

CATapDescription processDescription(AudioObjectID processID) {
    auto description = muteDescription({processID});
    description.bundleIDs = {};
    description.isProcessRestoreEnabled = false;
    return description;
}

CFDictionary attachmentDescription(const std::string& tapUID) {
    CFDictionary tap{
        {kAudioSubTapUIDKey, tapUID},
        {kAudioSubTapDriftCompensationKey, true},
    };
    return CFDictionary{
        {kAudioAggregateDeviceNameKey, std::string(attachmentName)},
        {kAudioAggregateDeviceUIDKey, std::string(attachmentUIDPrefix) + Uuid::random().text()},
        {kAudioAggregateDeviceIsPrivateKey, true},
        {kAudioAggregateDeviceTapListKey, CFArray{tap}},
    };
}

void validateMuteProperties(const CATapDescription& description) {
    bool keepsMuteRule = !description.isExclusive && description.isPrivate &&
                         description.muteBehavior == CATapMuted && !description.deviceUID;
    if (!keepsMuteRule) throw TessalyError("Core Audio did not retain the Quick Look-only mute rule.");
}

void validateBundle(const CATapDescription& description) {
    validateMuteProperties(description);
    if (!targetsOnlyTheBundle(description.bundleIDs) || !description.isProcessRestoreEnabled) {
        throw TessalyError("Core Audio did not retain bundle targeting and restoration.");
    }
}

void validateProcess(const CATapDescription& description, AudioObjectID processID) {
    validateMuteProperties(description);
    bool bundleIDsAllowed = description.bundleIDs.empty() || targetsOnlyTheBundle(description.bundleIDs);
    bool targetsTheProcess = description.processes == std::vector<AudioObjectID>{processID};
    if (!bundleIDsAllowed || description.isProcessRestoreEnabled || !targetsTheProcess) {
        throw TessalyError("A process-specific mute tap no longer matches its Quick Look instance.");
    }
}

void validateAttachment(const MuteAttachmentState& state, const std::string& expectedTapUID) {
    bool holdsOnlyTheTap = state.tapUIDs == std::vector<std::string>{expectedTapUID};
    bool isValid = state.isPrivate && holdsOnlyTheTap && state.subDeviceUIDs.empty() &&
                   state.outputStreams.empty() && !state.isRunning;
    if (!isValid) throw TessalyError("The mute tap has no valid private, inactive, tap-only attachment.");
}

}  // namespace tessaly::MuteRule
