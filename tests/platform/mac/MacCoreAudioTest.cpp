// The Mac Core Audio adapter's own duties, over the stand-in frameworks; what it shares with every
// route to Core Audio is in the port contracts (tests/platform/contract).

#include <gtest/gtest.h>

#include <memory>

#include "BalancedReferences.h"
#include "audio/MuteRule.h"
#include "mac/MacCoreAudio.h"
#include "mac/standin/MacStandin.h"
#include "support/QuickLookAudioFixture.h"

namespace tessaly {
namespace {

using testing::QuickLookAudioFixture;

constexpr OSStatus illegalOperation = 1852797029;  // "nope"

class MacCoreAudioTest : public QuickLookAudioFixture {
protected:
    void SetUp() override {
        MacStandin::resetReferenceCounts();
        MacStandin::routeCoreAudio(&audio);
        MacStandin::routeMainQueue(&runLoop);
    }
    void TearDown() override {
        runLoop.runUntilIdle();
        testing::expectBalancedReferences();
        MacStandin::routeCoreAudio(nullptr);
        MacStandin::routeMainQueue(nullptr);
    }
};

// A call that Core Audio's thread began before the removal returned may still run afterwards, also
// after the adapter ended: it reaches a record that is still there, and nothing is delivered.
TEST_F(MacCoreAudioTest, AListenerRemovedOrEndedWithItsAdapterIsNeverCalledAndItsRecordOutlivesLateCalls) {
    const AudioObjectPropertyAddress restarted{kAudioHardwarePropertyServiceRestarted,
                                               kAudioObjectPropertyScopeGlobal, 0};
    int calls = 0;
    auto block = makeListenerBlock([&calls](const auto&) { ++calls; });
    for (const bool removedByName : {true, false}) {
        auto adapter = std::make_unique<MacCoreAudio>();
        ASSERT_EQ(
            adapter->AudioObjectAddPropertyListenerBlock(kAudioObjectSystemObject, restarted, runLoop, block),
            0);
        if (removedByName) {
            EXPECT_EQ(adapter->AudioObjectRemovePropertyListenerBlock(kAudioObjectSystemObject, restarted,
                                                                      runLoop, block),
                      0);
        }
        adapter.reset();
        EXPECT_EQ(audio.listenerCount(), 0u);
        EXPECT_EQ(MacStandin::callRemovedListenersLate(), 1u);
        runLoop.runUntilIdle();
    }
    EXPECT_EQ(calls, 0);
}

TEST_F(MacCoreAudioTest, ADescriptionThatIsNotTextIsRefusedBeforeCoreAudio) {
    MacCoreAudio adapter;
    CFDictionary description = MuteRule::attachmentDescription("TAP");
    description.insert_or_assign(kAudioAggregateDeviceNameKey, CFValue("\xC3\x28"));
    AudioObjectID device = 0;
    EXPECT_EQ(adapter.AudioHardwareCreateAggregateDevice(description, device), illegalOperation);
    EXPECT_TRUE(audio.calls(CoreAudioCall::createAggregateDevice).empty());
}

}  // namespace
}  // namespace tessaly
