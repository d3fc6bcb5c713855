// What the core relies on from Core Audio, asked of the simulation directly and of the Mac adapter
// over the stand-in frameworks (which route into the same simulation). Through the adapter, every
// Core Foundation reference must be given back by the end of each test.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "BalancedReferences.h"
#include "audio/AudioHardware.h"
#include "audio/MuteRule.h"
#include "audio/MuteTap.h"
#include "mac/MacCoreAudio.h"
#include "mac/standin/MacStandin.h"
#include "support/ErrorMessage.h"
#include "support/QuickLookAudioFixture.h"

namespace tessaly {
namespace {

using testing::QuickLookAudioFixture;
using testing::Route;

constexpr OSStatus badObject = 560947818;          // "!obj"
constexpr OSStatus badPropertySize = 561211770;    // "!siz"
constexpr OSStatus illegalOperation = 1852797029;  // "nope"

class CoreAudioContract : public QuickLookAudioFixture, public ::testing::WithParamInterface<Route> {
protected:
    void SetUp() override {
        if (GetParam() == Route::simulation) return;
        MacStandin::resetReferenceCounts();
        MacStandin::routeCoreAudio(&audio);
        MacStandin::routeMainQueue(&runLoop);
        adapter = std::make_unique<MacCoreAudio>();
    }
    void TearDown() override {
        if (GetParam() == Route::simulation) return;
        adapter.reset();
        runLoop.runUntilIdle();
        testing::expectBalancedReferences();
        MacStandin::routeCoreAudio(nullptr);
        MacStandin::routeMainQueue(nullptr);
    }

    CoreAudio& port() { return adapter ? static_cast<CoreAudio&>(*adapter) : audio; }

    std::unique_ptr<MacCoreAudio> adapter;
};

TEST_P(CoreAudioContract, MuteTapsAreMadeCheckedReadAndRemovedThroughThePort) {
    auto quickLook = addQuickLookProcesses(2);
    addOtherProcess("com.apple.finder", 80);

    auto matching = AudioHardware::matchingProcesses(port());
    ASSERT_EQ(matching.size(), 2u);
    EXPECT_EQ(matching[1].pid, 501);

    const CATapDescription description = MuteRule::processDescription(quickLook[0]);
    MuteTap tap = MuteTap::create(port(), log, description);
    EXPECT_FALSE(audio.reachesOutput(quickLook[0]));
    EXPECT_EQ(tap.uid, *audio.tapUID(tap.id));
    EXPECT_NO_THROW(tap.validateAttachment(port()));
    EXPECT_EQ(tap.readDescription(port()), description);
    EXPECT_EQ(AudioHardware::object(port(), tap.attachmentID, kAudioAggregateDevicePropertyTapList),
              CFValue(CFArray{tap.uid}));

    EXPECT_EQ(tap.remove(port()), std::nullopt);
    EXPECT_TRUE(audio.tapIDs().empty());
    EXPECT_TRUE(audio.aggregateDeviceIDs().empty());
    EXPECT_EQ(port().AudioHardwareDestroyProcessTap(tap.id), badObject);
}

TEST_P(CoreAudioContract, StatusesAndSizesPassThroughUnchanged) {
    AudioObjectID process = addQuickLookProcess(500);
    const AudioObjectPropertyAddress bundleID{kAudioProcessPropertyBundleID, kAudioObjectPropertyScopeGlobal,
                                              0};
    const AudioObjectPropertyAddress pid{kAudioProcessPropertyPID, kAudioObjectPropertyScopeGlobal, 0};

    std::optional<CFValue> object;
    std::uint32_t size = kCFTypeRefSize;
    EXPECT_EQ(port().AudioObjectGetPropertyData(4711, bundleID, size, object), badObject);
    audio.failProperty(process, kAudioProcessPropertyPID, -50);
    std::uint32_t value = 7;
    size = 4;
    EXPECT_EQ(port().AudioObjectGetPropertyData(process, pid, size, value), -50);
    EXPECT_EQ(value, 7u);
    size = 2;
    EXPECT_EQ(port().AudioObjectGetPropertyData(process, bundleID, size, object), badPropertySize);
    EXPECT_FALSE(object);

    audio.failNext(CoreAudioCall::getPropertyDataSize, -1);
    EXPECT_EQ(testing::messageOf([&] {
                  AudioHardware::objectIDs(port(), kAudioObjectSystemObject,
                                           kAudioHardwarePropertyProcessObjectList);
              }),
              "Reading audio object-list size failed (Core Audio status -1).");
    audio.failNext(CoreAudioCall::createAggregateDevice, 1234);
    AudioObjectID device = 0;
    EXPECT_EQ(port().AudioHardwareCreateAggregateDevice(MuteRule::attachmentDescription("X"), device), 1234);

    // Status 0 with no object: the slot stays empty.
    audio.overrideObject(process, kAudioProcessPropertyBundleID, std::nullopt);
    object = CFValue("stale");
    size = kCFTypeRefSize;
    EXPECT_EQ(port().AudioObjectGetPropertyData(process, bundleID, size, object), 0);
    EXPECT_FALSE(object);
}

TEST_P(CoreAudioContract, ListsThatChangeBetweenSizeAndReadAreCutOrRetried) {
    auto quickLook = addQuickLookProcesses(3);
    audio.afterNext(CoreAudioCall::getPropertyDataSize, [&] { audio.removeProcess(quickLook[2]); });
    EXPECT_EQ(
        AudioHardware::objectIDs(port(), kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList),
        (std::vector<AudioObjectID>{quickLook[0], quickLook[1]}));

    AudioObjectID added = 0;
    audio.afterNext(CoreAudioCall::getPropertyDataSize, [&] { added = addQuickLookProcess(600); });
    auto grown =
        AudioHardware::objectIDs(port(), kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
    EXPECT_EQ(grown, (std::vector<AudioObjectID>{quickLook[0], quickLook[1], added}));
}

TEST_P(CoreAudioContract, ListenersHearChangesOnTheMainQueueUntilTheVeryBlockIsRemoved) {
    const AudioObjectPropertyAddress processList{kAudioHardwarePropertyProcessObjectList,
                                                 kAudioObjectPropertyScopeGlobal, 0};
    std::vector<AudioObjectPropertyAddress> heard;
    auto block = makeListenerBlock([&](const auto& addresses) {
        EXPECT_TRUE(runLoop.isMainThread());
        heard.insert(heard.end(), addresses.begin(), addresses.end());
    });
    EXPECT_EQ(port().AudioObjectAddPropertyListenerBlock(4711, processList, runLoop, block), badObject);
    ASSERT_EQ(
        port().AudioObjectAddPropertyListenerBlock(kAudioObjectSystemObject, processList, runLoop, block), 0);

    addQuickLookProcess(500);
    EXPECT_TRUE(heard.empty());
    runLoop.runUntilIdle();
    EXPECT_EQ(heard, std::vector<AudioObjectPropertyAddress>{processList});

    auto other = makeListenerBlock([](const auto&) {});
    EXPECT_EQ(
        port().AudioObjectRemovePropertyListenerBlock(kAudioObjectSystemObject, processList, runLoop, other),
        illegalOperation);
    EXPECT_EQ(
        port().AudioObjectRemovePropertyListenerBlock(kAudioObjectSystemObject, processList, runLoop, block),
        0);
    addQuickLookProcess(501);
    runLoop.runUntilIdle();
    EXPECT_EQ(heard.size(), 1u);
    EXPECT_EQ(audio.listenerCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(, CoreAudioContract, ::testing::Values(Route::simulation, Route::macAdapter),
                         testing::routeName);

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

TEST_F(MacCoreAudioTest, AnAdapterThatEndsTakesItsListenersWithIt) {
    auto adapter = std::make_unique<MacCoreAudio>();
    auto block = makeListenerBlock([](const auto&) {});
    ASSERT_EQ(
        adapter->AudioObjectAddPropertyListenerBlock(
            kAudioObjectSystemObject,
            {kAudioHardwarePropertyServiceRestarted, kAudioObjectPropertyScopeGlobal, 0}, runLoop, block),
        0);
    adapter.reset();
    EXPECT_EQ(audio.listenerCount(), 0u);
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
