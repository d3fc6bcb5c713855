#include <gtest/gtest.h>

#include <stdexcept>

#include "audio/MuteRule.h"
#include "support/QuickLookAudioFixture.h"

namespace tessaly {
namespace {

using testing::QuickLookAudioFixture;

constexpr OSStatus badObject = 560947818;          // "!obj"
constexpr OSStatus illegalOperation = 1852797029;  // "nope"

class SimulatedMuting : public QuickLookAudioFixture {
protected:
    AudioObjectID createTap(const CATapDescription& description) {
        AudioObjectID tap = 0;
        EXPECT_EQ(audio.AudioHardwareCreateProcessTap(description, tap), 0);
        return tap;
    }
};

TEST_F(SimulatedMuting, ABundleTapSilencesQuickLookAProcessTapItsProcessAnExclusiveTapAllOthers) {
    const AudioObjectID before = addQuickLookProcess(500);
    const AudioObjectID finder = addOtherProcess("com.apple.finder", 80);
    const AudioObjectID bundleTap = createTap(MuteRule::bundleDescription());
    const AudioObjectID after = addQuickLookProcess(501);
    EXPECT_FALSE(audio.reachesOutput(before));
    EXPECT_FALSE(audio.reachesOutput(after));
    EXPECT_TRUE(audio.reachesOutput(finder));
    ASSERT_EQ(audio.AudioHardwareDestroyProcessTap(bundleTap), 0);

    const AudioObjectID processTap = createTap(MuteRule::processDescription(before));
    EXPECT_FALSE(audio.reachesOutput(before));
    EXPECT_TRUE(audio.reachesOutput(after));
    ASSERT_EQ(audio.AudioHardwareDestroyProcessTap(processTap), 0);
    EXPECT_TRUE(audio.reachesOutput(before));

    auto exclusive = MuteRule::processDescription(before);
    exclusive.isExclusive = true;
    createTap(exclusive);
    EXPECT_TRUE(audio.reachesOutput(before));
    EXPECT_FALSE(audio.reachesOutput(finder));
}

class SimulatedAggregateDevices : public QuickLookAudioFixture {};

TEST_F(SimulatedAggregateDevices, RefuseAnUnknownProcessTapAndReportSubDevicesAsOutputAndTapsAsInput) {
    AudioObjectID tap = 0;
    EXPECT_EQ(audio.AudioHardwareCreateProcessTap(MuteRule::processDescription(4711), tap), badObject);
    AudioObjectID device = 0;
    EXPECT_EQ(
        audio.AudioHardwareCreateAggregateDevice(MuteRule::attachmentDescription("NO-SUCH-TAP"), device),
        illegalOperation);
    EXPECT_TRUE(audio.tapIDs().empty());
    EXPECT_TRUE(audio.aggregateDeviceIDs().empty());

    ASSERT_EQ(audio.AudioHardwareCreateProcessTap(MuteRule::bundleDescription(), tap), 0);
    // A device reports its sub-devices as output streams and its taps as input streams. (A UID in use is
    // refused in the port contract.)
    CFDictionary description = MuteRule::attachmentDescription(*audio.tapUID(tap));
    description.insert_or_assign("uid", "WITH-SPEAKERS");
    description.insert_or_assign("subdevices", CFArray{CFDictionary{{"uid", "BuiltInSpeakerDevice"}}});
    ASSERT_EQ(audio.AudioHardwareCreateAggregateDevice(description, device), 0);
    auto count = [&](AudioObjectPropertyScope scope) {
        std::uint32_t size = 0;
        EXPECT_EQ(audio.AudioObjectGetPropertyDataSize(device, {kAudioDevicePropertyStreams, scope, 0}, size),
                  0);
        return size / sizeof(AudioObjectID);
    };
    EXPECT_EQ(count(kAudioObjectPropertyScopeInput), 1u);
    EXPECT_EQ(count(kAudioObjectPropertyScopeOutput), 1u);
    EXPECT_EQ(count(kAudioObjectPropertyScopeGlobal), 2u);
}

// The helper built for Linux embeds a simulation and asks it for the process list on every status
// request: only a test's simulation may keep the calls it answered.
TEST(SimulatedCallLog, IsKeptOnlyWhenATestAsksForIt) {
    SimulatedCoreAudio embedded;
    SimulatedCoreAudio recording{CoreAudioCallLog::kept};
    const AudioObjectPropertyAddress processList{kAudioHardwarePropertyProcessObjectList,
                                                 kAudioObjectPropertyScopeGlobal, 0};
    for (int request = 0; request < 1000; ++request) {
        std::uint32_t size = 0;
        ASSERT_EQ(embedded.AudioObjectGetPropertyDataSize(kAudioObjectSystemObject, processList, size), 0);
        ASSERT_EQ(recording.AudioObjectGetPropertyDataSize(kAudioObjectSystemObject, processList, size), 0);
    }
    EXPECT_THROW(embedded.calls(), std::logic_error);
    EXPECT_EQ(recording.calls(CoreAudioCall::getPropertyDataSize).size(), 1000u);
}

class SimulatedListeners : public QuickLookAudioFixture {
protected:
    static constexpr AudioObjectPropertyAddress serviceRestarted{kAudioHardwarePropertyServiceRestarted,
                                                                 kAudioObjectPropertyScopeGlobal, 0};

    AudioObjectPropertyListenerBlock recorder() {
        return makeListenerBlock([this](const std::vector<AudioObjectPropertyAddress>& addresses) {
            delivered.insert(delivered.end(), addresses.begin(), addresses.end());
        });
    }

    std::vector<AudioObjectPropertyAddress> delivered;
};

TEST_F(SimulatedListeners, RestartNotifiesAndLosesEveryTapAndDevice) {
    auto block = recorder();
    ASSERT_EQ(
        audio.AudioObjectAddPropertyListenerBlock(kAudioObjectSystemObject, serviceRestarted, runLoop, block),
        0);
    AudioObjectID quickLook = addQuickLookProcess(500);
    AudioObjectID tap = 0;
    ASSERT_EQ(audio.AudioHardwareCreateProcessTap(MuteRule::bundleDescription(), tap), 0);

    audio.restartService();
    EXPECT_TRUE(delivered.empty());
    runLoop.runUntilIdle();
    EXPECT_EQ(delivered, std::vector<AudioObjectPropertyAddress>{serviceRestarted});
    EXPECT_TRUE(audio.tapIDs().empty());
    EXPECT_TRUE(audio.reachesOutput(quickLook));
    EXPECT_EQ(audio.AudioHardwareDestroyProcessTap(tap), badObject);
}

}  // namespace
}  // namespace tessaly
