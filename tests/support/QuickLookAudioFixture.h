#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "simulated/SimulatedCoreAudio.h"
#include "support/CapturingLog.h"
#include "support/VirtualRunLoop.h"

namespace tessaly::testing {

/// The bundle identifier of the Quick Look UI service, as Core Audio reports it.
inline constexpr char quickLookBundleID[] = "com.apple.quicklook.QuickLookUIService";

/// A simulated Core Audio with a run loop and a capturing log, and verbs to populate it with
/// Quick Look and other processes in a line.
class QuickLookAudioFixture : public ::testing::Test {
protected:
    /// Adds `count` Quick Look processes with process ids firstPID, firstPID + 1, ...; returns
    /// their object ids in the order they were added.
    std::vector<AudioObjectID> addQuickLookProcesses(int count, std::int32_t firstPID = 500) {
        std::vector<AudioObjectID> ids;
        for (int index = 0; index < count; ++index) ids.push_back(addQuickLookProcess(firstPID + index));
        return ids;
    }
    /// Adds one Quick Look process, with the object id `id` when it is not 0.
    AudioObjectID addQuickLookProcess(std::int32_t pid, AudioObjectID id = kAudioObjectUnknown) {
        if (id == kAudioObjectUnknown) return audio.addProcess(quickLookBundleID, pid);
        return audio.addProcessWithID(id, quickLookBundleID, pid);
    }
    /// Adds a process of another application.
    AudioObjectID addOtherProcess(const std::string& bundleID, std::int32_t pid) {
        return audio.addProcess(bundleID, pid);
    }
    /// The objects destroyed so far, as (call, object), in order.
    std::vector<std::pair<CoreAudioCall, AudioObjectID>> destructions() const {
        std::vector<std::pair<CoreAudioCall, AudioObjectID>> result;
        for (const CoreAudioCallRecord& record : audio.calls()) {
            if (record.call == CoreAudioCall::destroyAggregateDevice ||
                record.call == CoreAudioCall::destroyProcessTap)
                result.emplace_back(record.call, record.object);
        }
        return result;
    }

    VirtualRunLoop runLoop;
    SimulatedCoreAudio audio{CoreAudioCallLog::kept};
    CapturingLog log;
};

}  // namespace tessaly::testing
