#include <gtest/gtest.h>

#include "audio/AudioHardware.h"
#include "audio/MuteRule.h"
#include "foundation/AudioHardwareError.h"
#include "foundation/TessalyError.h"
#include "support/ErrorMessage.h"
#include "support/QuickLookAudioFixture.h"

namespace tessaly {
namespace {

using testing::messageOf;
using testing::QuickLookAudioFixture;
using testing::quickLookBundleID;
using testing::thrown;

constexpr OSStatus badObject = 560947818;         // "!obj"
constexpr OSStatus unknownProperty = 2003332927;  // "who?"

class ProcessDiscovery : public QuickLookAudioFixture {
protected:
    std::size_t reads(AudioObjectPropertySelector selector) const {
        std::size_t count = 0;
        for (const auto& record : audio.calls(CoreAudioCall::getPropertyData)) {
            if (record.selector == selector) ++count;
        }
        return count;
    }
};

// Only the exact bundle identifier matches; another process costs one read.
TEST_F(ProcessDiscovery,
       ListsQuickLookProcessesByAscendingObjectIDWithTheirSignedProcessIDsAndReadsNoMoreOfOthers) {
    for (const char* other :
         {"com.apple.quicklook.QuickLookUIService.Extension", "com.apple.quicklook.quicklookuiservice",
          "com.apple.quicklook", "com.apple.finder"}) {
        addOtherProcess(other, 80);
    }
    addQuickLookProcess(-5, 300);
    addQuickLookProcess(22, 120);
    audio.setPlaying(300, true);
    EXPECT_EQ(
        AudioHardware::matchingProcesses(audio),
        (std::vector<AudioProcess>{{120, 22, quickLookBundleID, false}, {300, -5, quickLookBundleID, true}}));
    EXPECT_EQ(reads(kAudioProcessPropertyBundleID), 6u);
    EXPECT_EQ(reads(kAudioProcessPropertyPID), 2u);
    EXPECT_EQ(reads(kAudioProcessPropertyIsRunningOutput), 2u);
}

TEST_F(ProcessDiscovery, SkipsAProcessThatVanishesOrHasNoTextualBundleIdentifier) {
    const auto ids = addQuickLookProcesses(4);
    // The first property read is the process list itself; the first process goes right after it.
    audio.afterNext(CoreAudioCall::getPropertyData, [&] { audio.removeProcess(ids[0]); });
    audio.failProperty(ids[1], kAudioProcessPropertyIsRunningOutput, badObject);  // gone while read
    audio.overrideObject(ids[2], kAudioProcessPropertyBundleID, CFValue(5));
    const auto found = AudioHardware::matchingProcesses(audio);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].id, ids[3]);
}

TEST_F(ProcessDiscovery, FailsOnAnyOtherFailedReadEvenIfOthersMatched) {
    const auto ids = addQuickLookProcesses(2);
    audio.failNext(CoreAudioCall::getPropertyDataSize, badObject);
    EXPECT_STREQ(thrown<AudioHardwareError>([&] { AudioHardware::matchingProcesses(audio); }).what(),
                 "Reading audio object-list size failed (Core Audio status 560947818).");
    audio.failProperty(ids[1], kAudioProcessPropertyIsRunningOutput, unknownProperty);
    EXPECT_EQ(
        thrown<AudioHardwareError>([&] { AudioHardware::matchingProcesses(audio); }).description(),
        "Reading audio property on " + std::to_string(ids[1]) + " failed (Core Audio status 2003332927).");
    audio.overrideObject(ids[0], kAudioProcessPropertyBundleID, std::nullopt);
    EXPECT_EQ(messageOf([&] { AudioHardware::matchingProcesses(audio); }),
              "Core Audio returned an empty object for " + std::to_string(ids[0]) + ".");
}

TEST(MuteRuleSelection, KeepsOnlyQuickLookInStableObjectIDOrder) {
    std::vector<AudioProcess> processes{
        {30, 1, quickLookBundleID, false},          {10, 2, "com.apple.finder", false},
        {20, 3, quickLookBundleID, false},          {20, 4, quickLookBundleID, true},
        {4000000000u, 5, quickLookBundleID, false},
    };
    EXPECT_EQ(MuteRule::matchingProcesses(processes), (std::vector<AudioProcess>{
                                                          {20, 3, quickLookBundleID, false},
                                                          {20, 4, quickLookBundleID, true},
                                                          {30, 1, quickLookBundleID, false},
                                                          {4000000000u, 5, quickLookBundleID, false},
                                                      }));
}

}  // namespace
}  // namespace tessaly
