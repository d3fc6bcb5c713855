#include "service/MuteGuard.h"

#include <algorithm>
#include <set>
#include <string>

#include "audio/AudioHardware.h"
#include "audio/MuteRule.h"
#include "foundation/AudioHardwareError.h"
#include "foundation/TessalyError.h"
#include "foundation/Version.h"

namespace tessaly {

void MuteGuard::set(bool engaged) {
    if (!engaged) {
        release();
        return;
    }
    if (bundleTap_) return;
    bundleTap_ = MuteTap::create(audio_, log_, MuteRule::bundleDescription());
    reconcile();
}

// A preview that closes between discovery and its tap takes its process object with it: a routine
// race, skipped as discovery skips it. Any other failure still ends the reconciliation.
bool MuteGuard::vanished(const AudioHardwareError& error, AudioObjectID process) {
    if (error.status() != kAudioHardwareBadObjectError || error.operation() != "Creating a mute tap")
        return false;
    const auto listed =
        AudioHardware::objectIDs(audio_, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
    return std::find(listed.begin(), listed.end(), process) == listed.end();
}

std::vector<AudioProcess> MuteGuard::reconcile() {
    if (!bundleTap_) throw TessalyError("The bundle mute tap has not been initialized.");
    auto processes = AudioHardware::matchingProcesses(audio_);
    std::set<AudioObjectID> discovered;
    for (const auto& process : processes) {
        discovered.insert(process.id);
        if (processTaps_.count(process.id)) continue;
        try {
            processTaps_.emplace(process.id,
                                 MuteTap::create(audio_, log_, MuteRule::processDescription(process.id)));
        } catch (const AudioHardwareError& error) {
            if (!vanished(error, process.id)) throw;
        }
    }
    std::vector<AudioObjectID> gone;
    for (const auto& [id, tap] : processTaps_) {
        if (!discovered.count(id)) gone.push_back(id);
    }
    for (AudioObjectID id : gone) {
        auto entry = processTaps_.find(id);
        if (entry == processTaps_.end()) continue;
        if (auto failure = entry->second.remove(audio_)) throw TessalyError(*failure);
        processTaps_.erase(entry);
    }
    return processes;
}

void MuteGuard::release() {
    std::vector<MuteTap> taps;
    for (const auto& [id, tap] : processTaps_) taps.push_back(tap);
    if (bundleTap_) taps.push_back(*bundleTap_);
    // Forget them first: a tap that cannot be destroyed is not retried.
    processTaps_.clear();
    bundleTap_.reset();

    std::string failures;
    for (const auto& tap : taps) {
        if (auto failure = tap.remove(audio_)) failures += (failures.empty() ? "" : " ") + *failure;
    }
    if (!failures.empty()) throw TessalyError(failures);
}

std::optional<MuteStatus> MuteGuard::status() {
    if (!bundleTap_) {
        if (!processTaps_.empty()) throw TessalyError("Orphaned mute taps remain active.");
        return std::nullopt;
    }
    const auto processes = AudioHardware::matchingProcesses(audio_);
    const CATapDescription bundle = bundleTap_->readDescription(audio_);
    MuteRule::validateBundle(bundle);
    bundleTap_->validateAttachment(audio_);
    for (const auto& [id, tap] : processTaps_) tap.validateAttachment(audio_);
    for (const auto& process : processes) {
        if (!processTaps_.count(process.id)) {
            throw TessalyError("A new Quick Look process is not yet covered by the mute rule.");
        }
    }
    MuteStatus status;
    for (const auto& process : processes) {
        MuteRule::validateProcess(processTaps_.at(process.id).readDescription(audio_), process.id);
        status.processIDs.push_back(process.id);
        status.previewPIDs.push_back(process.pid);
        if (process.isPlaying) ++status.activeProcessCount;
    }
    std::sort(status.previewPIDs.begin(), status.previewPIDs.end());
    status.version = std::string(version);
    status.pid = processID_();
    status.bundleID = std::string(MuteRule::targetBundleID);
    status.tapID = bundleTap_->id;
    status.tapCount = static_cast<std::int64_t>(processTaps_.size()) + 1;
    status.attachmentCount = status.tapCount;
    status.muted = bundle.muteBehavior == CATapMuted;
    status.privateTap = bundle.isPrivate;
    status.restoresProcesses = bundle.isProcessRestoreEnabled;
    status.audioIOStarted = false;
    return status;
}

}  // namespace tessaly
