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

TEST_F(ProcessDiscovery, FindsNothingAfterOneBundleIdentifierReadPerProcess) {
    addOtherProcess("com.apple.finder", 80);
    addOtherProcess("com.apple.Music", 81);
    addOtherProcess("com.apple.Safari", 82);
    EXPECT_TRUE(AudioHardware::matchingProcesses(audio).empty());
    EXPECT_EQ(reads(kAudioProcessPropertyBundleID), 3u);
    EXPECT_EQ(reads(kAudioProcessPropertyPID), 0u);
    EXPECT_EQ(reads(kAudioProcessPropertyIsRunningOutput), 0u);
}

TEST_F(ProcessDiscovery, ListsQuickLookProcessesByAscendingObjectID) {
    addQuickLookProcess(11, 300);
    addOtherProcess("com.apple.finder", 80);
    addQuickLookProcess(22, 120);
    audio.setPlaying(300, true);
    EXPECT_EQ(
        AudioHardware::matchingProcesses(audio),
        (std::vector<AudioProcess>{{120, 22, quickLookBundleID, false}, {300, 11, quickLookBundleID, true}}));
}

TEST_F(ProcessDiscovery, ReadsTheProcessIDAsASignedBitPattern) {
    addQuickLookProcess(-5);
    auto found = AudioHardware::matchingProcesses(audio);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.front().pid, -5);
}

TEST_F(ProcessDiscovery, MatchesOnlyTheExactBundleIdentifier) {
    addOtherProcess("com.apple.quicklook.QuickLookUIService.Extension", 80);
    addOtherProcess("com.apple.quicklook.quicklookuiservice", 81);
    addOtherProcess("com.apple.quicklook", 82);
    addOtherProcess("com.apple.finder", 83);
    EXPECT_TRUE(AudioHardware::matchingProcesses(audio).empty());
}

TEST_F(ProcessDiscovery, SkipsAProcessThatVanishedAfterTheListWasRead) {
    auto ids = addQuickLookProcesses(3);
    // The first property read is the process list itself; the process goes right after it.
    audio.afterNext(CoreAudioCall::getPropertyData, [&] { audio.removeProcess(ids[0]); });
    auto found = AudioHardware::matchingProcesses(audio);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].id, ids[1]);
    EXPECT_EQ(found[1].id, ids[2]);
}

TEST_F(ProcessDiscovery, SkipsAProcessThatVanishedWhileItsPropertiesWereRead) {
    auto ids = addQuickLookProcesses(2);
    audio.failProperty(ids[1], kAudioProcessPropertyIsRunningOutput, badObject);
    auto found = AudioHardware::matchingProcesses(audio);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].id, ids[0]);
}

TEST_F(ProcessDiscovery, FailsWhenAnOutputFlagReadFailsOtherwiseEvenIfOthersMatched) {
    auto ids = addQuickLookProcesses(2);
    audio.failProperty(ids[1], kAudioProcessPropertyIsRunningOutput, unknownProperty);
    auto error = thrown<AudioHardwareError>([&] { AudioHardware::matchingProcesses(audio); });
    EXPECT_EQ(error.description(), "Reading audio property on " + std::to_string(ids[1]) +
                                       " failed (Core Audio status 2003332927).");
}

TEST_F(ProcessDiscovery, FailsWhenABundleIdentifierIsAnEmptyObject) {
    auto ids = addQuickLookProcesses(2);
    audio.overrideObject(ids[0], kAudioProcessPropertyBundleID, std::nullopt);
    EXPECT_EQ(messageOf([&] { AudioHardware::matchingProcesses(audio); }),
              "Core Audio returned an empty object for " + std::to_string(ids[0]) + ".");
}

TEST_F(ProcessDiscovery, SkipsABundleIdentifierThatIsNotAText) {
    auto ids = addQuickLookProcesses(2);
    audio.overrideObject(ids[0], kAudioProcessPropertyBundleID, CFValue(5));
    auto found = AudioHardware::matchingProcesses(audio);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].id, ids[1]);
}

TEST_F(ProcessDiscovery, PassesAFailedProcessListReadOnUnchanged) {
    addQuickLookProcesses(2);
    audio.failNext(CoreAudioCall::getPropertyDataSize, badObject);
    EXPECT_STREQ(thrown<AudioHardwareError>([&] { AudioHardware::matchingProcesses(audio); }).what(),
                 "Reading audio object-list size failed (Core Audio status 560947818).");
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
