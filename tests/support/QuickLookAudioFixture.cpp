#include "support/QuickLookAudioFixture.h"

namespace tessaly::testing {

std::vector<AudioObjectID> QuickLookAudioFixture::addQuickLookProcesses(int count, std::int32_t firstPID) {
    std::vector<AudioObjectID> ids;
    for (int index = 0; index < count; ++index) ids.push_back(addQuickLookProcess(firstPID + index));
    return ids;
}

AudioObjectID QuickLookAudioFixture::addQuickLookProcess(std::int32_t pid, AudioObjectID id) {
    if (id == kAudioObjectUnknown) return audio.addProcess(quickLookBundleID, pid);
    return audio.addProcessWithID(id, quickLookBundleID, pid);
}

AudioObjectID QuickLookAudioFixture::addOtherProcess(const std::string& bundleID, std::int32_t pid) {
    return audio.addProcess(bundleID, pid);
}

std::vector<std::pair<CoreAudioCall, AudioObjectID>> QuickLookAudioFixture::destructions() const {
    std::vector<std::pair<CoreAudioCall, AudioObjectID>> result;
    for (const CoreAudioCallRecord& record : audio.calls()) {
        if (record.call == CoreAudioCall::destroyAggregateDevice ||
            record.call == CoreAudioCall::destroyProcessTap) {
            result.emplace_back(record.call, record.object);
        }
    }
    return result;
}

}  // namespace tessaly::testing
