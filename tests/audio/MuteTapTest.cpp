#include <gtest/gtest.h>

#include "audio/AudioHardware.h"
#include "audio/MuteRule.h"
#include "audio/MuteTap.h"
#include "foundation/AudioHardwareError.h"
#include "foundation/TessalyError.h"
#include "support/ErrorMessage.h"
#include "support/QuickLookAudioFixture.h"

namespace tessaly {
namespace {

using testing::CapturingLog;
using testing::messageOf;
using testing::QuickLookAudioFixture;
using testing::thrown;

constexpr OSStatus badObject = 560947818;          // "!obj"
constexpr OSStatus illegalOperation = 1852797029;  // "nope"
constexpr OSStatus unknownProperty = 2003332927;   // "who?"
constexpr char invalidAttachment[] = "The mute tap has no valid private, inactive, tap-only attachment.";
constexpr char unreadableAttachment[] = "Core Audio returned an unreadable mute attachment.";

constexpr auto destroyTap = CoreAudioCall::destroyProcessTap;
constexpr auto destroyAttachment = CoreAudioCall::destroyAggregateDevice;
using Destructions = std::vector<std::pair<CoreAudioCall, AudioObjectID>>;

class MuteTapCreation : public QuickLookAudioFixture {
protected:
    MuteTap createBundleTap() { return MuteTap::create(audio, log, MuteRule::bundleDescription()); }

    template <typename ErrorType>
    ErrorType creationError() {
        return thrown<ErrorType>([&] { createBundleTap(); });
    }

    // The object the last successful creation of this kind made.
    AudioObjectID lastCreated(CoreAudioCall call) const { return audio.calls(call).back().object; }

    // Makes the next attachment come out with `fault` applied before it is verified.
    void spoilNextAttachment(std::function<void(AudioObjectID)> fault) {
        audio.afterNext(CoreAudioCall::createAggregateDevice,
                        [this, fault] { fault(lastCreated(CoreAudioCall::createAggregateDevice)); });
    }

    void expectNothingLeft() const {
        EXPECT_TRUE(audio.tapIDs().empty());
        EXPECT_TRUE(audio.aggregateDeviceIDs().empty());
    }
};

TEST_F(MuteTapCreation, MakesAMutingTapInsideAPrivateAttachment) {
    AudioObjectID quickLook = addQuickLookProcess(500);
    MuteTap tap = createBundleTap();

    EXPECT_EQ(audio.tapIDs(), std::vector<AudioObjectID>{tap.id});
    EXPECT_EQ(audio.aggregateDeviceIDs(), std::vector<AudioObjectID>{tap.attachmentID});
    EXPECT_EQ(tap.uid, *audio.tapUID(tap.id));
    EXPECT_EQ(*audio.tapDescription(tap.id), MuteRule::bundleDescription());
    // The attachment's composition is MuteRule's (checked there), with the tap's UID.
    EXPECT_EQ(audio.aggregateComposition(tap.attachmentID)->at("taps"),
              CFValue(CFArray{CFDictionary{{"uid", tap.uid}, {"drift", true}}}));
    EXPECT_FALSE(audio.reachesOutput(quickLook));
    EXPECT_TRUE(log.entries.empty());
    // Core Audio refuses a second device of the same UID: each attachment has one of its own.
    EXPECT_NO_THROW(MuteTap::create(audio, log, MuteRule::processDescription(quickLook)));
}

TEST_F(MuteTapCreation, AFailedStepDestroysWhatCameBeforeItAndThrowsCoreAudiosStatusOrSaysWhatIsMissing) {
    const struct {
        std::function<void()> fail;
        std::string message;  // empty: a Core Audio status, named by the failed read of the tap's UID
        bool fromCoreAudio, tapCreated;
    } cases[] = {
        {[&] { audio.failNext(CoreAudioCall::createProcessTap, illegalOperation); },
         "Creating a mute tap failed (Core Audio status 1852797029).", true, false},
        {[&] { audio.createNothingNext(CoreAudioCall::createProcessTap); }, "Core Audio created no mute tap.",
         false, false},
        {[&] { audio.failNext(CoreAudioCall::getPropertyData, badObject); }, "", true, true},
        {[&] { audio.failNext(CoreAudioCall::createAggregateDevice, illegalOperation); },
         "Attaching the mute tap failed (Core Audio status 1852797029).", true, true},
        {[&] { audio.createNothingNext(CoreAudioCall::createAggregateDevice); },
         "Core Audio created no mute attachment.", false, true},
    };
    for (const auto& [fail, message, fromCoreAudio, tapCreated] : cases) {
        audio.clearCalls();
        fail();
        const std::string what = fromCoreAudio ? creationError<AudioHardwareError>().what()
                                               : creationError<TessalyError>().message();
        const auto tap = [&] { return lastCreated(CoreAudioCall::createProcessTap); };
        EXPECT_EQ(what, message.empty() ? "Reading audio object " + std::to_string(tap()) +
                                              " failed (Core Audio status 560947818)."
                                        : message);
        EXPECT_EQ(destructions(), (tapCreated ? Destructions{{destroyTap, tap()}} : Destructions{})) << what;
        EXPECT_TRUE(tapCreated || audio.calls(CoreAudioCall::createAggregateDevice).empty()) << what;
        expectNothingLeft();
    }
}

TEST_F(MuteTapCreation, DestroysAttachmentThenTapWhenVerificationFailsAndLogsAFailedCleanUp) {
    const std::vector<std::function<void(AudioObjectID)>> faults{
        [this](AudioObjectID device) { audio.addSubDevice(device, "BuiltInSpeakerDevice"); },
        [this](AudioObjectID device) { audio.addOutputStream(device); },
        [this](AudioObjectID device) { audio.setRunning(device, true); },
    };
    for (const auto& fault : faults) {
        audio.clearCalls();
        spoilNextAttachment(fault);
        EXPECT_EQ(creationError<TessalyError>().message(), invalidAttachment);
        EXPECT_EQ(destructions(),
                  (Destructions{{destroyAttachment, lastCreated(CoreAudioCall::createAggregateDevice)},
                                {destroyTap, lastCreated(CoreAudioCall::createProcessTap)}}));
        expectNothingLeft();
    }
    EXPECT_TRUE(log.entries.empty());

    // A clean-up that fails is logged, and the original error thrown.
    spoilNextAttachment([this](AudioObjectID device) { audio.setRunning(device, true); });
    audio.clearCalls();
    audio.failNext(CoreAudioCall::destroyAggregateDevice, -50);
    audio.failNext(CoreAudioCall::destroyProcessTap, badObject);

    EXPECT_EQ(creationError<TessalyError>().message(), invalidAttachment);
    EXPECT_EQ(destructions().size(), 2u);
    EXPECT_EQ(log.entries, (std::vector<CapturingLog::Entry>{
                               {"tap", LogLevel::error, "Cleaning up a failed mute attachment: -50"},
                               {"tap", LogLevel::error, "Cleaning up a failed mute tap: 560947818"},
                           }));
}

class MuteAttachmentValidation : public QuickLookAudioFixture {
protected:
    void SetUp() override { tap = MuteTap::create(audio, log, MuteRule::bundleDescription()); }

    void changeComposition(const std::function<void(CFDictionary&)>& change) {
        CFDictionary composition = *audio.aggregateComposition(tap.attachmentID);
        change(composition);
        audio.overrideObject(tap.attachmentID, kAudioAggregateDevicePropertyComposition,
                             CFValue(composition));
    }

    std::string failure() {
        return messageOf([&] { tap.validateAttachment(audio); });
    }

    MuteTap tap;
};

TEST_F(MuteAttachmentValidation, UnreadableFactsAreReportedAsSuch) {
    CFDictionary withoutPrivate = *audio.aggregateComposition(tap.attachmentID);
    withoutPrivate.erase("private");
    const std::vector<std::pair<AudioObjectPropertySelector, CFValue>> unreadable{
        {kAudioAggregateDevicePropertyComposition, CFValue("not a dictionary")},
        {kAudioAggregateDevicePropertyComposition, withoutPrivate},
        {kAudioAggregateDevicePropertyComposition, CFValue(CFDictionary{{"private", "yes"}})},
        {kAudioAggregateDevicePropertyComposition, CFValue(CFDictionary{{"private", 2}})},
        {kAudioAggregateDevicePropertyTapList, CFValue(CFDictionary{})},
        {kAudioAggregateDevicePropertyTapList, CFValue(CFArray{CFValue(tap.uid), CFValue(7)})},
        {kAudioAggregateDevicePropertyFullSubDeviceList, CFValue("BuiltInSpeakerDevice")},
    };
    for (const auto& [selector, value] : unreadable) {
        MuteTap fresh = MuteTap::create(audio, log, MuteRule::bundleDescription());
        audio.overrideObject(fresh.attachmentID, selector, value);
        EXPECT_EQ(messageOf([&] { fresh.validateAttachment(audio); }), unreadableAttachment);
    }
}

TEST_F(MuteAttachmentValidation,
       AcceptsTheAttachmentAsCreatedButNotAPublicOneWhetherSaidByNumberOrBooleanNorOneHoldingAnotherTap) {
    // As created it has the tap's input stream, and is valid all the same.
    EXPECT_FALSE(AudioHardware::objectIDs(audio, tap.attachmentID, kAudioDevicePropertyStreams,
                                          kAudioObjectPropertyScopeInput)
                     .empty());
    EXPECT_NO_THROW(tap.validateAttachment(audio));
    for (const CFValue& published : {CFValue(0), CFValue(false)}) {
        changeComposition(
            [&](CFDictionary& composition) { composition.insert_or_assign("private", published); });
        EXPECT_EQ(failure(), invalidAttachment);
    }
    changeComposition([](CFDictionary& composition) { composition.insert_or_assign("private", true); });
    EXPECT_NO_THROW(tap.validateAttachment(audio));

    audio.overrideObject(tap.attachmentID, kAudioAggregateDevicePropertyTapList,
                         CFValue(CFArray{"OTHER-TAP"}));
    EXPECT_EQ(failure(), invalidAttachment);
}

TEST_F(MuteAttachmentValidation, PassesAFailedReadOnAndAVanishedAttachmentFailsWithTheBadObjectStatus) {
    audio.failProperty(tap.attachmentID, kAudioDevicePropertyDeviceIsRunning, unknownProperty);
    EXPECT_EQ(thrown<AudioHardwareError>([&] { tap.validateAttachment(audio); }).description(),
              "Reading audio property on " + std::to_string(tap.attachmentID) +
                  " failed (Core Audio status 2003332927).");

    ASSERT_EQ(audio.AudioHardwareDestroyAggregateDevice(tap.attachmentID), 0);
    EXPECT_EQ(thrown<AudioHardwareError>([&] { tap.validateAttachment(audio); }).description(),
              "Reading audio object " + std::to_string(tap.attachmentID) +
                  " failed (Core Audio status 560947818).");
}

class MuteTapDescriptionReadBack : public QuickLookAudioFixture {};

TEST_F(MuteTapDescriptionReadBack, ReturnsWhatCoreAudioKept) {
    MuteTap bundleTap = MuteTap::create(audio, log, MuteRule::bundleDescription());
    EXPECT_NO_THROW(MuteRule::validateBundle(bundleTap.readDescription(audio)));

    audio.alterTapDescription(bundleTap.id, [](CATapDescription& d) { d.isProcessRestoreEnabled = false; });
    EXPECT_EQ(messageOf([&] { MuteRule::validateBundle(bundleTap.readDescription(audio)); }),
              "Core Audio did not retain bundle targeting and restoration.");

    // A value that is no description at all lost the mute rule.
    audio.overrideObject(bundleTap.id, kAudioTapPropertyDescription, CFValue("Tessaly - muted previews"));
    EXPECT_EQ(messageOf([&] { bundleTap.readDescription(audio); }),
              "Core Audio did not retain the Quick Look-only mute rule.");
}

TEST_F(MuteTapDescriptionReadBack, ProcessTapReportedWithTheBundleIdentifierStillMatches) {
    AudioObjectID process = addQuickLookProcess(95, 140);
    MuteTap tap = MuteTap::create(audio, log, MuteRule::processDescription(process));
    audio.alterTapDescription(tap.id,
                              [](CATapDescription& d) { d.bundleIDs = {testing::quickLookBundleID}; });
    EXPECT_NO_THROW(MuteRule::validateProcess(tap.readDescription(audio), 140));

    audio.alterTapDescription(tap.id, [](CATapDescription& d) { d.isProcessRestoreEnabled = true; });
    EXPECT_EQ(messageOf([&] { MuteRule::validateProcess(tap.readDescription(audio), 140); }),
              "A process-specific mute tap no longer matches its Quick Look instance.");
}

class MuteTapRemoval : public QuickLookAudioFixture {
protected:
    void SetUp() override {
        quickLook = addQuickLookProcess(500);
        tap = MuteTap::create(audio, log, MuteRule::processDescription(quickLook));
        audio.clearCalls();
    }

    AudioObjectID quickLook = 0;
    MuteTap tap;
};

TEST_F(MuteTapRemoval, DestroysTheAttachmentThenTheTapAndReportsEachStatusThatFailed) {
    EXPECT_EQ(tap.remove(audio), std::nullopt);
    EXPECT_EQ(destructions(), (Destructions{{destroyAttachment, tap.attachmentID}, {destroyTap, tap.id}}));
    EXPECT_TRUE(audio.tapIDs().empty() && audio.aggregateDeviceIDs().empty());
    EXPECT_TRUE(audio.reachesOutput(quickLook));
    // A tap already gone: both statuses.
    EXPECT_EQ(tap.remove(audio), "Removing a mute tap failed (attachment: 560947818, tap: 560947818).");

    // Each failed status is reported, and the tap is destroyed even when its attachment is not.
    tap = MuteTap::create(audio, log, MuteRule::processDescription(quickLook));
    audio.clearCalls();
    audio.failNext(CoreAudioCall::destroyAggregateDevice, -50);
    EXPECT_EQ(tap.remove(audio), "Removing a mute tap failed (attachment: -50, tap: 0).");
    EXPECT_EQ(destructions(), (Destructions{{destroyAttachment, tap.attachmentID}, {destroyTap, tap.id}}));
    EXPECT_TRUE(audio.tapIDs().empty());

    MuteTap other = MuteTap::create(audio, log, MuteRule::processDescription(quickLook));
    audio.failNext(CoreAudioCall::destroyProcessTap, badObject);
    EXPECT_EQ(other.remove(audio), "Removing a mute tap failed (attachment: 0, tap: 560947818).");
}

}  // namespace
}  // namespace tessaly
