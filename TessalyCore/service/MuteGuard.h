#pragma once

#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "audio/AudioProcess.h"
#include "audio/MuteTap.h"
#include "foundation/AudioHardwareError.h"
#include "ports/CoreAudio.h"
#include "ports/Log.h"
#include "service/MuteStatus.h"
#include "values/ProcessID.h"

namespace tessaly {

/// The Core Audio mute guard on the Quick Look UI service: one bundle tap while engaged, plus one
/// per-process tap for every Quick Look process Core Audio lists. It owns the taps; the mute
/// service decides when it is engaged.
class MuteGuard {
public:
    /// `processID` is getpid(), reported in the guard's status.
    MuteGuard(CoreAudio& audio, Log& log, std::function<ProcessID()> processID)
        : audio_(audio), log_(log), processID_(std::move(processID)) {}
    MuteGuard(const MuteGuard&) = delete;
    MuteGuard& operator=(const MuteGuard&) = delete;

    /// Engages the guard (bundle tap, then reconcile) or releases it. Throws; a bundle tap whose
    /// reconciliation failed stays, so that a later release removes it.
    void set(bool engaged);
    /// Gives every Quick Look process its own tap and removes the taps of processes that are gone.
    /// Throws the first failure; taps made before it stay. Returns the discovered processes.
    std::vector<AudioProcess> reconcile();
    /// Forgets every tap, then removes each one; throws the collected failures as one sentence.
    void release();
    /// The guard as Core Audio keeps it, every check re-run; nothing while released. Throws.
    std::optional<MuteStatus> status();

    bool engaged() const { return bundleTap_.has_value(); }
    const std::map<AudioObjectID, MuteTap>& processTaps() const { return processTaps_; }

private:
    /// Whether a failed per-process tap creation means the process exited after discovery.
    bool vanished(const AudioHardwareError& error, AudioObjectID process);

    CoreAudio& audio_;
    Log& log_;
    std::function<ProcessID()> processID_;
    std::optional<MuteTap> bundleTap_;
    std::map<AudioObjectID, MuteTap> processTaps_;
};

}  // namespace tessaly
