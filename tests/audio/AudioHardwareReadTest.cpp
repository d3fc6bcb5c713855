#include <gtest/gtest.h>

#include "audio/AudioHardware.h"
#include "foundation/AudioHardwareError.h"
#include "foundation/TessalyError.h"
#include "support/ErrorMessage.h"
#include "support/QuickLookAudioFixture.h"

namespace tessaly {
namespace {

using testing::messageOf;
using testing::QuickLookAudioFixture;
using testing::thrown;

constexpr OSStatus badObject = 560947818;         // "!obj"
constexpr OSStatus badPropertySize = 561211770;   // "!siz"
constexpr OSStatus unknownProperty = 2003332927;  // "who?"

std::size_t countCalls(const SimulatedCoreAudio& audio, CoreAudioCall call) {
    return audio.calls(call).size();
}

class AudioObjectReads : public QuickLookAudioFixture {};

TEST_F(AudioObjectReads, NameTheObjectAndTheBadObjectStatusWhenTheObjectIsGone) {
    auto error = thrown<AudioHardwareError>(
        [&] { AudioHardware::object(audio, 4711, kAudioProcessPropertyBundleID); });
    EXPECT_EQ(error.status(), badObject);
    EXPECT_STREQ(error.what(), "Reading audio object 4711 failed (Core Audio status 560947818).");
}

TEST_F(AudioObjectReads, PrintNegativeStatusesWithAMinusSign) {
    AudioObjectID process = addQuickLookProcess(7);
    audio.failNext(CoreAudioCall::getPropertyData, -50);
    auto error = thrown<AudioHardwareError>(
        [&] { AudioHardware::object(audio, process, kAudioProcessPropertyBundleID); });
    EXPECT_EQ(error.description(),
              "Reading audio object " + std::to_string(process) + " failed (Core Audio status -50).");
}

TEST_F(AudioObjectReads, FailWhenCoreAudioSucceedsWithoutAnObject) {
    AudioObjectID process = addQuickLookProcess(7);
    audio.overrideObject(process, kAudioProcessPropertyBundleID, std::nullopt);
    EXPECT_EQ(messageOf([&] { AudioHardware::object(audio, process, kAudioProcessPropertyBundleID); }),
              "Core Audio returned an empty object for " + std::to_string(process) + ".");
}

class AudioIntegerReads : public QuickLookAudioFixture {};

TEST_F(AudioIntegerReads, ReturnTheBitPatternAsItCame) {
    AudioObjectID process = addQuickLookProcess(-2);
    EXPECT_EQ(AudioHardware::integer(audio, process, kAudioProcessPropertyPID), 0xFFFFFFFEu);
}

TEST_F(AudioIntegerReads, NameTheObjectWhenTheReadFails) {
    AudioObjectID process = addQuickLookProcess(7);
    audio.failProperty(process, kAudioProcessPropertyIsRunningOutput, unknownProperty);
    auto error = thrown<AudioHardwareError>(
        [&] { AudioHardware::integer(audio, process, kAudioProcessPropertyIsRunningOutput); });
    EXPECT_EQ(error.description(), "Reading audio property on " + std::to_string(process) +
                                       " failed (Core Audio status 2003332927).");
}

class AudioObjectListReads : public QuickLookAudioFixture {
protected:
    std::vector<AudioObjectID> processList() {
        return AudioHardware::objectIDs(audio, kAudioObjectSystemObject,
                                        kAudioHardwarePropertyProcessObjectList);
    }
};

TEST_F(AudioObjectListReads, ReturnAnEmptyListWithoutASecondCall) {
    EXPECT_TRUE(processList().empty());
    EXPECT_EQ(countCalls(audio, CoreAudioCall::getPropertyDataSize), 1u);
    EXPECT_EQ(countCalls(audio, CoreAudioCall::getPropertyData), 0u);
}

TEST_F(AudioObjectListReads, ReturnTheThirdAttemptAfterTwoGrownLists) {
    auto ids = addQuickLookProcesses(2);
    audio.failNext(CoreAudioCall::getPropertyData, badPropertySize);
    audio.failNext(CoreAudioCall::getPropertyData, badPropertySize);
    EXPECT_EQ(processList(), ids);
    EXPECT_EQ(countCalls(audio, CoreAudioCall::getPropertyDataSize), 3u);
    EXPECT_EQ(countCalls(audio, CoreAudioCall::getPropertyData), 3u);
}

TEST_F(AudioObjectListReads, FailAfterThreeGrownListsInARow) {
    addQuickLookProcesses(2);
    for (int attempt = 0; attempt < 3; ++attempt) {
        audio.failNext(CoreAudioCall::getPropertyData, badPropertySize);
    }
    auto error = thrown<AudioHardwareError>([&] { processList(); });
    EXPECT_EQ(error.operation(), "Reading an audio object list");
    EXPECT_EQ(error.status(), badPropertySize);
    EXPECT_STREQ(error.what(), "Reading an audio object list failed (Core Audio status 561211770).");
    EXPECT_EQ(countCalls(audio, CoreAudioCall::getPropertyData), 3u);
}

TEST_F(AudioObjectListReads, ReadAgainWhenTheListGrewAfterItsSizeWasAsked) {
    auto ids = addQuickLookProcesses(2);
    audio.afterNext(CoreAudioCall::getPropertyDataSize, [&] { ids.push_back(addQuickLookProcess(600)); });
    EXPECT_EQ(processList(), ids);
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_EQ(countCalls(audio, CoreAudioCall::getPropertyDataSize), 2u);
}

TEST_F(AudioObjectListReads, ReturnExactlyTheRemainingIdsOfAListThatShrank) {
    auto ids = addQuickLookProcesses(5);
    audio.afterNext(CoreAudioCall::getPropertyDataSize, [&] {
        audio.removeProcess(ids[1]);
        audio.removeProcess(ids[3]);
    });
    EXPECT_EQ(processList(), (std::vector<AudioObjectID>{ids[0], ids[2], ids[4]}));
    EXPECT_EQ(countCalls(audio, CoreAudioCall::getPropertyDataSize), 1u);
}

TEST_F(AudioObjectListReads, DoNotRetryOtherStatuses) {
    addQuickLookProcesses(2);
    audio.failNext(CoreAudioCall::getPropertyData, badObject);
    EXPECT_STREQ(thrown<AudioHardwareError>([&] { processList(); }).what(),
                 "Reading an audio object list failed (Core Audio status 560947818).");
    EXPECT_EQ(countCalls(audio, CoreAudioCall::getPropertyDataSize), 1u);
}

TEST_F(AudioObjectListReads, ReportAFailedSizeQuery) {
    audio.failNext(CoreAudioCall::getPropertyDataSize, -50);
    EXPECT_STREQ(thrown<AudioHardwareError>([&] { processList(); }).what(),
                 "Reading audio object-list size failed (Core Audio status -50).");
}

TEST_F(AudioObjectListReads, RefuseASizeThatIsNotAWholeNumberOfIds) {
    addQuickLookProcesses(2);
    audio.misreportNextSize(CoreAudioCall::getPropertyDataSize, 6);
    EXPECT_EQ(messageOf([&] { processList(); }), "Core Audio returned an invalid object-list size.");
    EXPECT_EQ(countCalls(audio, CoreAudioCall::getPropertyData), 0u);
}

TEST_F(AudioObjectListReads, RefuseAWrittenSizeLargerThanTheBufferOrNotAWholeNumberOfIds) {
    addQuickLookProcesses(2);
    for (std::uint32_t written : {12u, 6u}) {
        audio.misreportNextSize(CoreAudioCall::getPropertyData, written);
        EXPECT_EQ(messageOf([&] { processList(); }), "Core Audio returned an invalid object list.");
    }
}

}  // namespace
}  // namespace tessaly
