#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "foundation/AudioHardwareError.h"
#include "foundation/TessalyError.h"
#include "service/StatusClient.h"
#include "support/ErrorMessage.h"
#include "support/MuteServiceFixture.h"

namespace tessaly::testing {
namespace {

using ::testing::ElementsAre;

const std::string untrusted = "Open Tessaly and allow Accessibility to finish setup.";

class MuteServiceStart : public MuteServiceFixture {};

TEST_F(MuteServiceStart, FirstStartSavesTheMutedDefaultEngagesTheGuardAndCannotBeRepeated) {
    start();
    EXPECT_EQ(storedChoice(), AudioPreference::make(0, 1));
    EXPECT_EQ(permissionsOf(store.path()), 0600u);
    EXPECT_TRUE(service->guardEngaged());
    EXPECT_TRUE(ports.isServed("com.orvanne.tessaly"));
    EXPECT_THAT(log.messages("mute"), ElementsAre("Quick Look audio memory is running."));
    EXPECT_EQ(messageOf([&] { service->start(); }), "Tessaly is already running.");
}

// A start that cannot finish: its exact message, the file left as it was, nothing served or listened.
enum class Refusal { unsupportedFile, takenPort, listenerRegistration };
struct RefusedStart {
    const char* name;
    Refusal refusal;
    const char* file;  // audio.json before the start, if any
    const char* message;
};

class RefusedStarts : public MuteServiceFixture, public ::testing::WithParamInterface<RefusedStart> {
protected:
    void cause(Refusal refusal) {
        if (refusal == Refusal::takenPort) {
            other = ports.createLocal("com.orvanne.tessaly", [](std::int32_t) { return std::nullopt; });
        } else if (refusal == Refusal::listenerRegistration) {
            audio.failNext(CoreAudioCall::addPropertyListener, -50);
            audio.failNext(CoreAudioCall::addPropertyListener, -50);
        }
    }
    MessagePorts::LocalPortCreation other;
};

TEST_P(RefusedStarts, LeaveTheFileAsItWasAndNothingRunning) {
    const char* file = GetParam().file;
    if (file != nullptr) writeFile(store.path(), file);
    const auto identity = file != nullptr ? fileIdentity() : 0;
    cause(GetParam().refusal);
    EXPECT_EQ(messageOf([&] { service->start(); }), GetParam().message);
    EXPECT_FALSE(service->isRunning());
    if (GetParam().refusal != Refusal::takenPort) {
        EXPECT_FALSE(ports.isServed("com.orvanne.tessaly"));
    }
    EXPECT_EQ(audio.listenerCount(), 0u);
    if (file != nullptr) {
        EXPECT_EQ(readFile(store.path()), file);
        EXPECT_EQ(fileIdentity(), identity);  // not even written again with the same bytes
    }
    EXPECT_EQ(messageOf([&] { service->start(); }), GetParam().message);  // the cause still stands
}

// The port's owner may be saving the file while a second helper starts: that one must not write it.
INSTANTIATE_TEST_SUITE_P(
    MuteService, RefusedStarts,
    ::testing::Values(
        RefusedStart{"UnsupportedFile", Refusal::unsupportedFile,
                     R"({"schemaVersion":2,"volume":0,"unmutedVolume":1})",
                     "The saved audio preference uses an unsupported format."},
        RefusedStart{"TakenPort", Refusal::takenPort,
                     R"({"schemaVersion":1,"volume":0.4,"unmutedVolume":0.4})",
                     "Another Tessaly helper is already running, or its status port is unavailable."},
        RefusedStart{"ListenerRegistration", Refusal::listenerRegistration, nullptr,
                     "Registering a Core Audio change listener failed (Core Audio status -50)."}),
    [](const auto& tested) { return std::string(tested.param.name); });

class RoadOfOnePreview : public MuteServiceFixture {};

TEST_F(RoadOfOnePreview, FromMutedToFortyPercentAndBackToMute) {
    start();
    // (1) A Quick Look process appears: the listener mutes it before any timer fires.
    const AudioObjectID quickLookProcess = audio.addProcess(quickLook, 900);
    runLoop.runUntilIdle();
    EXPECT_EQ(service->processTaps().count(quickLookProcess), 1u);
    EXPECT_FALSE(audible(quickLookProcess));

    // (2, 3) A preview opens; the window-created notification brings a refresh that restores the mute.
    auto preview = openPreview();
    runLoop.runUntilIdle();
    EXPECT_TRUE(desktop.isMuted(preview));
    EXPECT_EQ(service->controller()->restorationCount(), 1u);

    // (4, 5) The user drags the slider to 40 % in three steps: adopted, guard released, saved once.
    runLoop.advance(1);
    desktop.userMovesVolume(preview, 0.2);
    runLoop.advance(0.05);
    desktop.userMovesVolume(preview, 0.3);
    runLoop.advance(0.05);
    desktop.userMovesVolume(preview, 0.4);
    runLoop.runUntilIdle();
    EXPECT_EQ(service->preference(), AudioPreference::make(0.4, 0.4));
    EXPECT_FALSE(service->guardEngaged());
    EXPECT_TRUE(audible(quickLookProcess));
    runLoop.advance(0.14);
    EXPECT_EQ(storedChoice(), AudioPreference::make(0, 1));  // the first change was 0.24 s ago
    runLoop.advance(0.02);
    EXPECT_EQ(storedChoice(), AudioPreference::make(0.4, 0.4));
    // Nothing writes the file again: a compact copy stays as it is.
    writeFile(store.path(), R"({"schemaVersion":1,"volume":0.4,"unmutedVolume":0.4})");
    runLoop.advance(5);
    EXPECT_EQ(readFile(store.path()), R"({"schemaVersion":1,"volume":0.4,"unmutedVolume":0.4})");

    // (6) The next preview starts at 40 %.
    auto next = openPreview({.document = "file:///Users/tess/Movies/Dunes.mov", .title = "Dunes.mov"});
    runLoop.runUntilIdle();
    EXPECT_DOUBLE_EQ(desktop.outputLevel(next), 0.4);

    // The user mutes it: the guard comes back, and 0.4 is what unmuting returns to.
    desktop.userPressesSpeaker(next);
    runLoop.runUntilIdle();
    EXPECT_EQ(service->preference(), AudioPreference::make(0, 0.4));
    EXPECT_TRUE(service->guardEngaged());
    EXPECT_FALSE(audible(quickLookProcess));
    runLoop.advance(0.2);
    EXPECT_EQ(storedChoice(), AudioPreference::make(0, 0.4));
}

TEST_F(RoadOfOnePreview, ProcessListChangesFollowTheGuardOnlyWhileMuted) {
    start();
    const AudioObjectID first = audio.addProcess(quickLook, 900);
    runLoop.runUntilIdle();
    audio.removeProcess(first);
    runLoop.runUntilIdle();
    EXPECT_TRUE(service->processTaps().empty());
    EXPECT_EQ(audio.tapIDs().size(), 1u);  // the bundle tap alone

    // A stored audible choice leaves the guard released, also for a new Quick Look process.
    service->stop();
    storeChoice(0.5, 0.5);
    makeService();
    start();
    EXPECT_EQ(service->preference(), AudioPreference::make(0.5, 0.5));
    audio.addProcess(quickLook, 901);
    runLoop.runUntilIdle();
    EXPECT_FALSE(service->guardEngaged());
    EXPECT_TRUE(audio.tapIDs().empty());
}

class EndingSignals : public MuteServiceFixture, public ::testing::WithParamInterface<int> {};

TEST_P(EndingSignals, SaveThePendingChoiceTearDownAndCannotEndTheHelperBeforeItsCleanup) {
    storeChoice(0.5, 0.5);
    std::optional<SimulatedPreview> preview;
    runLoop.postAfter(1, [&] { preview = openPreview(); });
    runLoop.postAfter(3, [&] { desktop.userMovesVolume(*preview, 0.8); });
    runLoop.postAfter(3.05, [&] { runLoop.raise(GetParam()); });  // within the save's delay
    audio.addProcess(quickLook, 900);
    service->run();
    EXPECT_EQ(runLoop.killedBy(), std::nullopt);
    EXPECT_FALSE(service->isRunning());
    EXPECT_EQ(storedChoice(), AudioPreference::make(0.8, 0.8));
    EXPECT_EQ(audio.listenerCount(), 0u);
    EXPECT_TRUE(audio.tapIDs().empty());
    EXPECT_FALSE(ports.isServed("com.orvanne.tessaly"));
    EXPECT_EQ(log.messages("mute").back(), "Quick Look audio memory has stopped.");
    runLoop.raise(GetParam());  // a second one, while the helper winds down
    EXPECT_EQ(runLoop.killedBy(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(MuteService, EndingSignals, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& tested) { return std::string(sigabbrev_np(tested.param)); });

class FailSilent : public MuteServiceFixture {
protected:
    // A Quick Look process and one preview the helper has restored.
    SimulatedPreview settledPreview() {
        process = audio.addProcess(quickLook, 900);
        auto preview = openPreview();
        runLoop.runUntilIdle();
        return preview;
    }
    double heard(const SimulatedPreview& preview) const {
        return audible(process) ? desktop.outputLevel(preview) : 0.0;
    }
    AudioObjectID process = 0;
};

// A Finder that does not answer in time, and a system error in a call (kAXErrorFailure).
TEST_F(FailSilent, AMomentsFailureKeepsTheGuardAndThePreviewsAndOnlyALastingOneReleasesThem) {
    const struct {
        std::function<void(SimulatedDesktop&, bool)> fault;
        const char* lasting;
    } faults[] = {
        {[](SimulatedDesktop& world, bool on) { world.makeSlow(finder, on); },
         "Reading AXWindows failed (Accessibility status -25204)."},
        {[](SimulatedDesktop& world, bool on) {
             world.failCall(SimulatedDesktop::Call::setAttributeValue,
                            on ? kAXErrorFailure : kAXErrorSuccess);
         },
         "Setting the native preview volume failed (Accessibility status -25200)."},
    };
    for (const auto& [fault, lasting] : faults) {
        SCOPED_TRACE(lasting);
        start();
        auto preview = settledPreview();
        ASSERT_EQ(service->controller()->restorationCount(), 1u);
        fault(desktop, true);
        desktop.changeDocument(preview, "file:///Users/tess/Movies/Tide.mov", "Tide.mov");
        runLoop.advance(0.1);  // the pass meets the fault
        EXPECT_TRUE(service->guardEngaged());
        EXPECT_FALSE(service->previewError());
        EXPECT_EQ(service->pollInterval(), 0.25);  // tried again soon
        EXPECT_NO_THROW(service->status().validate());
        runLoop.advance(5.2);  // it lasts: released, and the status says why
        EXPECT_EQ(service->previewError(), lasting);
        EXPECT_FALSE(service->guardEngaged());
        fault(desktop, false);
        runLoop.advance(0.3);
        EXPECT_TRUE(service->guardEngaged());
        EXPECT_FALSE(service->previewError());
        EXPECT_EQ(heard(preview), 0.0);
        service->stop();
        desktop.closeWindow(preview.window);
        audio.removeProcess(process);
    }
}

TEST_F(FailSilent, AWindowClosingUnderThePassIsLeftOutAndTheGuardStays) {
    start();
    auto closing = settledPreview();
    auto other = openPreview({.document = "file:///Users/tess/Movies/Dunes.mov", .title = "Dunes.mov"});
    desktop.onRead(closing.volume, "AXValue", [&] { desktop.vanishWindow(closing.window); });
    runLoop.runUntilIdle();
    EXPECT_TRUE(service->guardEngaged());
    EXPECT_FALSE(service->previewError());
    EXPECT_EQ(heard(other), 0.0);
    EXPECT_TRUE(desktop.isMuted(other));
}

// Revoked trust is a lasting failure the status reports; once granted again, the guard is back
// before the first pass touches a preview.
TEST_F(FailSilent, RevokedTrustReleasesTheGuardUntilItIsGrantedAgainAndThenGuardsFirst) {
    start();
    settledPreview();
    desktop.revokeTrust();
    runLoop.advance(2.1);
    EXPECT_EQ(service->previewError(), untrusted);
    EXPECT_FALSE(service->guardEngaged());
    EXPECT_TRUE(audible(process));
    runLoop.advance(2);
    EXPECT_EQ(std::count(log.entries.begin(), log.entries.end(),
                         CapturingLog::Entry{"mute", LogLevel::error, untrusted}),
              1);
    auto next = openPreview({.document = "file:///Users/tess/Movies/Dunes.mov", .title = "Dunes.mov"});
    bool guardedWhenTouched = false;
    desktop.onRead(next.volume, "AXValue", [&] { guardedWhenTouched = !audible(process); });
    desktop.grantTrust();
    runLoop.advance(2.1);
    EXPECT_TRUE(guardedWhenTouched);
    EXPECT_TRUE(desktop.isMuted(next));
    EXPECT_EQ(service->previewError(), std::nullopt);
    EXPECT_FALSE(audible(process));
}

TEST_F(FailSilent, MutingOnePreviewMutesTheOthersThroughTheirOwnSpeaker) {
    storeChoice(0.4, 0.4);
    start();
    auto first = settledPreview();
    auto second = openPreview({.document = "file:///Users/tess/Movies/Dunes.mov", .title = "Dunes.mov"});
    runLoop.runUntilIdle();
    desktop.userPressesSpeaker(first);
    runLoop.runUntilIdle();
    EXPECT_EQ(service->preference(), AudioPreference::make(0, 0.4));
    EXPECT_TRUE(desktop.isMuted(second));  // its controls show what the guard makes heard
    EXPECT_EQ(desktop.playerLevel(second), 0.4);
}

TEST_F(FailSilent, ANewPreviewAtAnAudibleChoiceIsSilentUntilItsLevelIsIn) {
    storeChoice(0.4, 0.4);
    start();
    process = audio.addProcess(quickLook, 900);
    auto preview = openPreview();  // the player starts at its own full volume
    double heardWhenTouched = -1;
    desktop.onRead(preview.volume, "AXValue", [&] { heardWhenTouched = heard(preview); });
    runLoop.runUntilIdle();
    EXPECT_EQ(heardWhenTouched, 0.0);
    EXPECT_DOUBLE_EQ(heard(preview), 0.4);
    EXPECT_TRUE(audio.tapIDs().empty());  // released once restored
    desktop.hideControls(preview);        // a restored player that hides its controls keeps its level
    runLoop.advance(1);
    EXPECT_DOUBLE_EQ(heard(preview), 0.4);
    desktop.exposeControls(preview);

    // Controls hidden: held silent, then after the limit it plays as the player will, with a notice.
    auto hidden = openPreview(
        {.document = "file:///Users/tess/Movies/Dunes.mov", .title = "Dunes.mov", .controlsExposed = false});
    runLoop.advance(1);
    EXPECT_EQ(heard(hidden), 0.0);
    const AudioStatus held = service->status();
    EXPECT_NO_THROW(held.validate());
    ASSERT_TRUE(held.previewHold);
    EXPECT_EQ(held.previewHold->reason, "A preview has not shown its controls yet.");
    runLoop.advance(PreviewHold::limit);
    EXPECT_EQ(heard(hidden), 1.0);
    const AudioStatus expired = service->status();
    EXPECT_NO_THROW(expired.validate());
    EXPECT_TRUE(expired.notice);
    // The arrow keys show the next file in that window: a new player, held silent again.
    desktop.changeDocument(hidden, "file:///Users/tess/Movies/Tide.mov", "Tide.mov");
    runLoop.runUntilIdle();
    EXPECT_EQ(heard(hidden), 0.0);
    AudioStatus outlived = held;
    outlived.previewHold->seconds = PreviewHold::limit + 1;
    EXPECT_EQ(messageOf([&] { outlived.validate(); }),
              "Quick Look has been silenced for a new preview for longer than it may be.");
}

// A new login while Finder is slow: the new helper cannot read the preview the last one had not
// restored yet, so it holds Quick Look silent until it can.
TEST_F(FailSilent, AHelperThatCannotReadThePreviewsYetHoldsThemSilent) {
    storeChoice(0.4, 0.4);
    process = audio.addProcess(quickLook, 900);
    auto preview = openPreview();  // at the player's own full volume
    desktop.makeSlow(finder);
    start();
    runLoop.advance(0.1);
    EXPECT_EQ(heard(preview), 0.0);
    desktop.makeSlow(finder, false);
    runLoop.advance(0.3);
    EXPECT_DOUBLE_EQ(heard(preview), 0.4);
    EXPECT_TRUE(audio.tapIDs().empty());
}

// A pass that finds a window whose announcement has not arrived yet silences it before restoring it.
TEST_F(FailSilent, AWindowFoundBeforeItsAnnouncementIsHeldToo) {
    storeChoice(0.4, 0.4);
    start();
    settledPreview();
    std::optional<SimulatedPreview> opened;
    double heardWhenTouched = -1;
    desktop.onRead(desktop.createApplication(finder), "AXWindows", [&] {
        opened = openPreview({.document = "file:///Users/tess/Movies/Dunes.mov", .title = "Dunes.mov"});
        desktop.onRead(opened->volume, "AXValue", [&] { heardWhenTouched = heard(*opened); });
    });
    runLoop.advance(2.1);  // the poll's pass reads the windows as the new one appears
    ASSERT_TRUE(opened);
    EXPECT_EQ(heardWhenTouched, 0.0);
    EXPECT_DOUBLE_EQ(heard(*opened), 0.4);
}

// The arrow keys show the next file (its player at full volume) while a pass reads the window:
// after the scan, before the tracked preview's volume is read, or before a restoration's read-back.
TEST_F(FailSilent, AnotherFileShownDuringAPassIsANewPreviewNotTheUsersChange) {
    for (const int readsBeforeTheArrow : {0, 1}) {
        SCOPED_TRACE(readsBeforeTheArrow);
        storeChoice(0.4, 0.4);
        start();
        auto preview = settledPreview();
        auto arrow = [&] {
            desktop.changeDocument(preview, "file:///Users/tess/Movies/Tide.mov", "Tide.mov");
        };
        if (readsBeforeTheArrow == 0) {
            desktop.onRead(preview.volume, "AXValue", arrow);
            runLoop.advance(2.1);  // the poll's pass reads the tracked preview
        } else {
            desktop.changeDocument(preview, "file:///Users/tess/Movies/Dunes.mov", "Dunes.mov");
            desktop.onRead(preview.volume, "AXValue",
                           [&] { desktop.onRead(preview.volume, "AXValue", arrow); });
        }
        runLoop.runUntilIdle();
        EXPECT_EQ(service->preference(), AudioPreference::make(0.4, 0.4));
        EXPECT_FALSE(service->previewError());
        EXPECT_DOUBLE_EQ(heard(preview), 0.4);
        service->stop();
        desktop.closeWindow(preview.window);
        audio.removeProcess(process);
    }
}

TEST_F(FailSilent, TheUsersChangeDuringTheRestorationWinsAndARemovedFileIsWrittenAgain) {
    start();
    process = audio.addProcess(quickLook, 900);
    auto preview = openPreview();
    // The user drags the slider just after the helper wrote it, before its read-back.
    desktop.onRead(preview.volume, "AXValue", [&] {
        desktop.onRead(preview.volume, "AXValue", [&] { desktop.userMovesVolume(preview, 0.7); });
    });
    runLoop.runUntilIdle();
    EXPECT_EQ(service->preference(), AudioPreference::make(0.7, 0.7));
    EXPECT_FALSE(service->previewError());
    EXPECT_DOUBLE_EQ(heard(preview), 0.7);
    runLoop.advance(0.2);
    EXPECT_EQ(storedChoice(), AudioPreference::make(0.7, 0.7));

    std::filesystem::remove(store.path());
    runLoop.advance(2.1);
    EXPECT_EQ(storedChoice(), AudioPreference::make(0.7, 0.7));
}

class ServiceFailures : public MuteServiceFixture {};

// What ends the helper with status 1 after it started, and the message it logs.
enum class Fatal { coreAudioRestart, reconcileFails, badObjectStillListed, guardFailsAfterAUserChoice };
struct FatalFault {
    const char* name;
    Fatal fault;
    const char* message;
};

class FatalFaults : public MuteServiceFixture, public ::testing::WithParamInterface<FatalFault> {
protected:
    void cause(Fatal fault) {
        switch (fault) {
            case Fatal::coreAudioRestart:  // and the guard cannot be built again
                audio.failNext(CoreAudioCall::createProcessTap, -50);
                audio.restartService();
                return;
            case Fatal::reconcileFails:
                audio.failNext(CoreAudioCall::createProcessTap, -50);
                audio.addProcess(quickLook, 900);
                return;
            case Fatal::badObjectStillListed:
                audio.failNext(CoreAudioCall::createProcessTap, kAudioHardwareBadObjectError);
                audio.addProcess(quickLook, 900);
                return;
            case Fatal::guardFailsAfterAUserChoice: {
                auto preview = openPreview();
                runLoop.runUntilIdle();
                audio.failNext(CoreAudioCall::createProcessTap, -50);
                desktop.userPressesSpeaker(preview);
                return;
            }
        }
    }
};

TEST_P(FatalFaults, EndTheProcessWithStatusOneAndNothingLeftBehind) {
    storeChoice(GetParam().fault == Fatal::guardFailsAfterAUserChoice ? 0.5 : 0, 0.5);
    start();
    cause(GetParam().fault);
    try {
        runLoop.runUntilIdle();
        FAIL() << "the process did not end";
    } catch (const ProcessExit& exit) {
        EXPECT_EQ(exit.status, 1);
    }
    EXPECT_FALSE(service->isRunning());
    EXPECT_TRUE(audio.tapIDs().empty());
    EXPECT_THAT(log.messages("mute"), ::testing::Contains(GetParam().message));
}

const char* const tapFailure = "Creating a mute tap failed (Core Audio status -50).";

INSTANTIATE_TEST_SUITE_P(
    MuteService, FatalFaults,
    ::testing::Values(FatalFault{"CoreAudioRestart", Fatal::coreAudioRestart,
                                 "Core Audio restarted; launchd must recreate the audio guard."},
                      FatalFault{"ReconcileFails", Fatal::reconcileFails, tapFailure},
                      FatalFault{"BadObjectForAProcessStillListed", Fatal::badObjectStillListed,
                                 "Creating a mute tap failed (Core Audio status 560947818)."},
                      FatalFault{"GuardFailsAfterAUserChoice", Fatal::guardFailsAfterAUserChoice,
                                 tapFailure}),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST_F(ServiceFailures, AQuickLookProcessThatExitsBeforeItsTapIsSkipped) {
    start();
    const AudioObjectID closing = audio.addProcess(quickLook, 900);
    audio.failNext(CoreAudioCall::createProcessTap, kAudioHardwareBadObjectError);
    audio.afterNext(CoreAudioCall::createProcessTap, [&] { audio.removeProcess(closing); });
    runLoop.runUntilIdle();
    EXPECT_TRUE(service->isRunning());
    EXPECT_TRUE(service->processTaps().empty());
    EXPECT_NO_THROW(service->status());
}

TEST_F(ServiceFailures, ACoreAudioRestartRebuildsTheGuardAtOnceAndOneQueuedBeforeAStopIsIgnored) {
    start();
    const AudioObjectID process = audio.addProcess(quickLook, 900);
    runLoop.runUntilIdle();
    audio.restartService();
    EXPECT_TRUE(audible(process));  // the restarted server dropped every tap
    runLoop.runUntilIdle();
    EXPECT_TRUE(service->isRunning());
    EXPECT_FALSE(audible(process));
    EXPECT_EQ(service->processTaps().count(process), 1u);
    EXPECT_NO_THROW(service->status().validate());

    audio.restartService();
    service->stop();
    EXPECT_NO_THROW(runLoop.runUntilIdle());
}

TEST_F(ServiceFailures, AFailingSaveIsRetriedShownAndCleared) {
    storeChoice(0.5, 0.5);
    start();
    auto preview = openPreview();
    runLoop.runUntilIdle();
    // A folder where the file should be makes every save fail, whoever runs the test.
    std::filesystem::remove(store.path());
    std::filesystem::create_directory(store.path());
    const std::string failure =
        "Cannot save the chosen Quick Look audio setting: The saved audio preference is not a regular, small configuration file.";

    desktop.userMovesVolume(preview, 0.3);
    runLoop.advance(0.2);
    EXPECT_TRUE(service->preferenceDirty());
    EXPECT_EQ(service->persistenceError(), failure);
    auto status = service->status();
    EXPECT_TRUE(status.pendingPreferenceWrite);
    EXPECT_EQ(status.error, failure);
    EXPECT_EQ(messageOf([&] { StatusClient::flushIfRunning(ports); }), failure);
    runLoop.advance(4);  // two refreshes retry; the failure is logged once
    EXPECT_EQ(std::count(log.entries.begin(), log.entries.end(),
                         CapturingLog::Entry{"mute", LogLevel::error, failure}),
              1);

    std::filesystem::remove(store.path());
    runLoop.advance(2);  // the next refresh retries
    EXPECT_FALSE(service->preferenceDirty());
    EXPECT_EQ(service->persistenceError(), std::nullopt);
    EXPECT_EQ(storedChoice(), AudioPreference::make(0.3, 0.3));
}

TEST_F(ServiceFailures, APreviewErrorReleasesTheGuardAndClearsOnSuccess) {
    start();
    const AudioObjectID process = audio.addProcess(quickLook, 900);
    auto preview = openPreview();
    runLoop.runUntilIdle();
    desktop.failAttribute(preview.window, "AXChildren", kAXErrorIllegalArgument);
    runLoop.advance(2);
    EXPECT_EQ(service->previewError(), "Reading AXChildren failed (Accessibility status -25201).");
    EXPECT_FALSE(service->guardEngaged());
    EXPECT_TRUE(audible(process));
    EXPECT_EQ(service->controller()->tracked().size(), 0u);

    desktop.failAttribute(preview.window, "AXChildren", kAXErrorSuccess);
    runLoop.advance(2);
    EXPECT_EQ(service->previewError(), std::nullopt);
    EXPECT_EQ(service->controller()->tracked().size(), 1u);
    EXPECT_TRUE(service->guardEngaged());
    EXPECT_FALSE(audible(process));
}

TEST_F(ServiceFailures, AFailedPassStillRetriesTheSaveAndChoosesThePollPeriod) {
    storeChoice(0.5, 0.5);
    start();
    auto preview = openPreview();
    openPreview(
        {.document = "file:///Users/tess/Movies/Dunes.mov", .title = "Dunes.mov", .controlsExposed = false});
    runLoop.runUntilIdle();
    ASSERT_EQ(service->pollInterval(), 0.25);
    std::filesystem::remove(store.path());
    std::filesystem::create_directory(store.path());  // every save fails
    desktop.userMovesVolume(preview, 0.3);
    runLoop.advance(0.2);
    ASSERT_TRUE(service->persistenceError());

    desktop.failAttribute(preview.window, "AXChildren", kAXErrorIllegalArgument);
    std::filesystem::remove(store.path());
    runLoop.advance(0.25);
    EXPECT_TRUE(service->previewError());
    EXPECT_FALSE(service->preferenceDirty());
    EXPECT_EQ(storedChoice(), AudioPreference::make(0.3, 0.3));
    EXPECT_EQ(service->pollInterval(), 2.0);  // nothing is awaited any more
}

class PollPeriod : public MuteServiceFixture {};

using ::testing::DoubleNear;
using ::testing::Pointwise;

TEST_F(PollPeriod, QuickensWhileControlsAreAwaitedAndFiresByItself) {
    storeChoice(0.5, 0.5);
    start();
    EXPECT_EQ(service->pollInterval(), 2.0);
    EXPECT_THAT(runLoop.timerLeeways(), ElementsAre(0.2));
    auto preview = openPreview({.controlsExposed = false});
    runLoop.runUntilIdle();
    EXPECT_EQ(service->pollInterval(), 0.25);
    EXPECT_THAT(runLoop.timerLeeways(), ElementsAre(0.025));

    runLoop.advance(1);  // past the follow-ups of the window's creation
    refreshTimes.clear();
    runLoop.advance(1);
    EXPECT_THAT(refreshTimes, Pointwise(DoubleNear(1e-9), std::vector<double>{1.25, 1.5, 1.75, 2.0}));

    desktop.exposeControls(preview);
    runLoop.advance(0.25);
    EXPECT_EQ(service->pollInterval(), 2.0);
    EXPECT_DOUBLE_EQ(desktop.outputLevel(preview), 0.5);
}

// A window announces its opening and its closing many times over (created, focused, its elements
// destroyed): each follow-up refresh runs once, and nothing else waits behind a pile of them.
TEST_F(PollPeriod, AWindowThatOpensOrClosesIsRefreshedAgainOnceAtEachFollowUp) {
    storeChoice(0.5, 0.5);
    start();
    runLoop.advance(1);
    refreshTimes.clear();
    const auto preview = openPreview();
    runLoop.advance(0.9);
    desktop.closeWindow(preview.window);
    runLoop.advance(0.6);
    EXPECT_THAT(refreshTimes, Pointwise(DoubleNear(1e-9),
                                        std::vector<double>{1.0, 1.05, 1.2, 1.5, 1.9, 1.95, 2.0, 2.1, 2.4}));
}

class StatusPort : public MuteServiceFixture {};

TEST_F(StatusPort, AnswersStatusFlushAndAStopThatEndsRun) {
    runLoop.postAfter(1, [&] {
        auto status = StatusClient::read(ports);
        EXPECT_NO_THROW(status.validate());
        EXPECT_EQ(status.pid, helperPID);
        ASSERT_TRUE(status.muteGuard);
        EXPECT_EQ(status.muteGuard->tapCount, 1);
        desktop.revokeTrust();  // a changed record is answered, not the last reply
        EXPECT_FALSE(StatusClient::read(ports).accessibilityTrusted);
        EXPECT_NO_THROW(StatusClient::flushIfRunning(ports));

        StatusClient::stopIfRunning(ports);
        EXPECT_TRUE(service->isRunning());  // the stop takes effect on the next turn of the loop
    });
    service->run();
    EXPECT_FALSE(service->isRunning());
    EXPECT_FALSE(StatusClient::isRunning(ports));
}

TEST_F(StatusPort, ReportsAnUnobservedChangeAsAFailedStatus) {
    storeChoice(0.5, 0.5);
    start();
    auto preview = openPreview();
    runLoop.runUntilIdle();
    desktop.userMovesVolume(preview, 0.2);  // no turn of the loop: the change is not seen yet
    EXPECT_EQ(messageOf([&] { StatusClient::read(ports); }),
              "A native preview audio change is still awaiting observation.");
    EXPECT_THAT(log.messages("mute"),
                ::testing::Contains(
                    "Status check failed: A native preview audio change is still awaiting observation."));
}

TEST_F(StatusPort, ReportsAQuickLookProcessWithoutItsTap) {
    start();
    audio.addProcess(quickLook, 900);  // the listener has not run yet
    EXPECT_EQ(messageOf([&] { service->status(); }),
              "A new Quick Look process is not yet covered by the mute rule.");
}

TEST_F(StatusPort, ReportsTheGuardAsCoreAudioKeepsIt) {
    const AudioObjectID second = audio.addProcessWithID(140, quickLook, 95);
    audio.addProcessWithID(90, quickLook, 812);
    audio.setPlaying(second, true);
    start();
    const auto status = service->status();
    ASSERT_TRUE(status.muteGuard);
    EXPECT_THAT(status.muteGuard->processIDs, ElementsAre(90u, 140u));
    EXPECT_THAT(status.muteGuard->previewPIDs, ElementsAre(95, 812));
    EXPECT_EQ(status.muteGuard->activeProcessCount, 1);
    EXPECT_EQ(status.muteGuard->tapCount, 3);
    EXPECT_EQ(status.muteGuard->attachmentCount, 3);
}

TEST_F(StatusPort, RejectsUnknownRequests) {
    start();
    auto remote = ports.createRemote("com.orvanne.tessaly");
    ASSERT_TRUE(remote);
    for (int id : {0, 4}) {
        auto reply = remote->sendRequest(id, 2, 2);
        EXPECT_FALSE(reply.data);
        EXPECT_THAT(log.messages("mute"),
                    ::testing::Contains("Rejected an unknown local request: " + std::to_string(id) + "."));
    }
    EXPECT_NO_THROW(StatusClient::read(ports));
}

}  // namespace
}  // namespace tessaly::testing
