#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "audio/AudioHardware.h"
#include "foundation/AudioHardwareError.h"
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

using AudioHardwareReads = QuickLookAudioFixture;

TEST_F(AudioHardwareReads, AFailedObjectOrIntegerReadNamesTheObjectAndTheStatus) {
    const auto gone = thrown<AudioHardwareError>(
        [&] { AudioHardware::object(audio, 4711, kAudioProcessPropertyBundleID); });
    EXPECT_EQ(gone.operation(), "Reading audio object 4711");
    EXPECT_EQ(gone.status(), badObject);
    EXPECT_STREQ(gone.what(), "Reading audio object 4711 failed (Core Audio status 560947818).");

    const AudioObjectID process = addQuickLookProcess(-2);
    const std::string id = std::to_string(process);
    EXPECT_EQ(AudioHardware::integer(audio, process, kAudioProcessPropertyPID), 0xFFFFFFFEu)
        << "the bit pattern as it came";
    audio.failNext(CoreAudioCall::getPropertyData, -50);
    EXPECT_EQ(messageOf([&] { AudioHardware::object(audio, process, kAudioProcessPropertyBundleID); }),
              "Reading audio object " + id + " failed (Core Audio status -50).");
    audio.overrideObject(process, kAudioProcessPropertyBundleID, std::nullopt);
    EXPECT_EQ(messageOf([&] { AudioHardware::object(audio, process, kAudioProcessPropertyBundleID); }),
              "Core Audio returned an empty object for " + id + ".");
    audio.failProperty(process, kAudioProcessPropertyIsRunningOutput, unknownProperty);
    EXPECT_EQ(
        messageOf([&] { AudioHardware::integer(audio, process, kAudioProcessPropertyIsRunningOutput); }),
        "Reading audio property on " + id + " failed (Core Audio status 2003332927).");
}

/// A list read that Core Audio disturbs: the ids it returns (those added, unless the disturbance
/// says otherwise) or an error's text, and how often it asked for the size and for the data.
struct ListRead {
    const char* what;
    int processes;
    std::function<std::optional<std::vector<AudioObjectID>>(SimulatedCoreAudio&, std::vector<AudioObjectID>&)>
        disturb;
    std::string error;
    std::size_t sizeCalls;
    std::size_t dataCalls;
};

/// Makes Core Audio fail the next `count` calls of `call` with `status`.
auto failing(CoreAudioCall call, OSStatus status, int count = 1) {
    return [=](SimulatedCoreAudio& audio, auto&) -> std::optional<std::vector<AudioObjectID>> {
        for (int attempt = 0; attempt < count; ++attempt) audio.failNext(call, status);
        return std::nullopt;
    };
}

/// Makes Core Audio report `size` bytes in its next `call`.
auto misreporting(CoreAudioCall call, std::uint32_t size) {
    return [=](SimulatedCoreAudio& audio, auto&) -> std::optional<std::vector<AudioObjectID>> {
        audio.misreportNextSize(call, size);
        return std::nullopt;
    };
}

const ListRead listReads[] = {
    {"EmptyWithoutASecondCall", 0, [](auto&, auto&) { return std::nullopt; }, "", 1, 0},
    {"TheThirdAttemptAfterTwoGrownLists", 2, failing(CoreAudioCall::getPropertyData, badPropertySize, 2), "",
     3, 3},
    {"FailureAfterThreeGrownListsInARow", 2, failing(CoreAudioCall::getPropertyData, badPropertySize, 3),
     "Reading an audio object list failed (Core Audio status 561211770).", 3, 3},
    {"ReadAgainWhenTheListGrewAfterItsSizeWasAsked", 2,
     [](SimulatedCoreAudio& audio,
        std::vector<AudioObjectID>& ids) -> std::optional<std::vector<AudioObjectID>> {
         audio.afterNext(CoreAudioCall::getPropertyDataSize,
                         [&] { ids.push_back(audio.addProcess(testing::quickLookBundleID, 600)); });
         return std::nullopt;
     },
     "", 2, 2},
    {"ExactlyTheRemainingIdsOfAListThatShrank", 5,
     [](SimulatedCoreAudio& audio,
        std::vector<AudioObjectID>& ids) -> std::optional<std::vector<AudioObjectID>> {
         audio.afterNext(CoreAudioCall::getPropertyDataSize, [&audio, ids] {
             audio.removeProcess(ids[1]);
             audio.removeProcess(ids[3]);
         });
         return std::vector<AudioObjectID>{ids[0], ids[2], ids[4]};
     },
     "", 1, 1},
    {"OtherStatusesAreNotRetried", 2, failing(CoreAudioCall::getPropertyData, badObject),
     "Reading an audio object list failed (Core Audio status 560947818).", 1, 1},
    {"AFailedSizeQuery", 0, failing(CoreAudioCall::getPropertyDataSize, -50),
     "Reading audio object-list size failed (Core Audio status -50).", 1, 0},
    {"ASizeThatIsNotAWholeNumberOfIds", 2, misreporting(CoreAudioCall::getPropertyDataSize, 6),
     "Core Audio returned an invalid object-list size.", 1, 0},
    {"AWrittenSizeLargerThanTheBuffer", 2, misreporting(CoreAudioCall::getPropertyData, 12),
     "Core Audio returned an invalid object list.", 1, 1},
    {"AWrittenSizeThatIsNotAWholeNumberOfIds", 2, misreporting(CoreAudioCall::getPropertyData, 6),
     "Core Audio returned an invalid object list.", 1, 1},
};

class AudioObjectListReads : public QuickLookAudioFixture, public ::testing::WithParamInterface<ListRead> {};

TEST_P(AudioObjectListReads, ReturnWhatIsThereOrFailAndNeverRetryMoreThanThrice) {
    std::vector<AudioObjectID> ids = addQuickLookProcesses(GetParam().processes);
    const auto expected = GetParam().disturb(audio, ids);
    std::vector<AudioObjectID> read;
    const std::string error = messageOf([&] {
        read = AudioHardware::objectIDs(audio, kAudioObjectSystemObject,
                                        kAudioHardwarePropertyProcessObjectList);
    });
    if (GetParam().error.empty()) {
        EXPECT_EQ(error, "no error");
        EXPECT_EQ(read, expected.value_or(ids));
    } else {
        EXPECT_EQ(error, GetParam().error);
    }
    EXPECT_EQ(audio.calls(CoreAudioCall::getPropertyDataSize).size(), GetParam().sizeCalls);
    EXPECT_EQ(audio.calls(CoreAudioCall::getPropertyData).size(), GetParam().dataCalls);
}

INSTANTIATE_TEST_SUITE_P(Cases, AudioObjectListReads, ::testing::ValuesIn(listReads),
                         [](const auto& parameter) { return std::string(parameter.param.what); });

}  // namespace
}  // namespace tessaly
