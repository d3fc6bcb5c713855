#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "preview/PreviewController.h"
#include "support/DesktopFixture.h"

namespace tessaly {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using testing::IsChoice;
using testing::messageOf;

class PreviewControllerPass : public testing::PreviewControllerFixture {
protected:
    std::string passError() {
        return messageOf([&] { pass(); });
    }
};

TEST_F(PreviewControllerPass,
       RestoresTheChoiceIntoANewPreviewObservesItLeavesItAloneAndTakesAnotherFileAsNew) {
    const auto shown = openPreview();
    pass();
    EXPECT_EQ(desktop.outputLevel(shown), 0.5);
    EXPECT_EQ(controller.restorationCount(), 1u);
    ASSERT_EQ(controller.tracked().size(), 1u);
    EXPECT_EQ(controller.tracked()[0].lastVolume, 0.5);
    EXPECT_TRUE(reportedChoices.empty());
    EXPECT_THAT(controller.observedHosts(), ElementsAre(finder));
    EXPECT_THAT(desktop.observedNotifications(desktop.createApplication(finder)),
                ElementsAre("AXWindowCreated", "AXFocusedWindowChanged", "AXFocusedUIElementChanged"));
    EXPECT_THAT(desktop.observedNotifications(shown.window),
                ElementsAre("AXTitleChanged", "AXUIElementDestroyed"));
    EXPECT_THAT(desktop.observedNotifications(shown.volume),
                ElementsAre("AXValueChanged", "AXUIElementDestroyed"));
    EXPECT_THAT(desktop.observedNotifications(shown.titleTexts[0]),
                ElementsAre("AXValueChanged", "AXUIElementDestroyed"));
    EXPECT_FALSE(controller.usesPolling());

    // A second pass leaves the unchanged preview and its observers alone.
    desktop.clearWrites();
    const auto observers = desktop.observersCreated();
    pass();
    EXPECT_TRUE(desktop.writes().empty());
    EXPECT_EQ(controller.restorationCount(), 1u);
    EXPECT_EQ(controller.userChangeCount(), 0u);
    EXPECT_EQ(desktop.observersCreated(), observers);

    // Another file in the same window (the arrow keys) is a new preview at its player's own level.
    desktop.changeDocument(shown, "file:///Users/tess/Music/Tide.m4a", "Tide.m4a");
    ASSERT_EQ(desktop.outputLevel(shown), 1.0);
    pass();
    EXPECT_TRUE(reportedChoices.empty());
    EXPECT_EQ(desktop.outputLevel(shown), 0.5);
    EXPECT_EQ(controller.restorationCount(), 2u);
}

TEST_F(PreviewControllerPass, ReportsTheUsersAudibleChangeLeavesItAsSetAndGivesItToAPreviewOpenedMeanwhile) {
    const auto shown = openPreview();
    pass();
    deliveredNotifications();
    desktop.clearWrites();

    // A hair's breadth above the remembered 0.5, just beyond the readings' tolerance, is a change.
    desktop.userMovesVolume(shown, 0.500005);
    EXPECT_THAT(deliveredNotifications(), ElementsAre("AXValueChanged"));
    // A preview that opens before the pass gets the choice made in it.
    const auto second =
        openPreview({.document = "file:///Users/tess/Movies/Dunes.mov", .title = "Dunes.mov"});
    pass();
    EXPECT_THAT(reportedChoices, ElementsAre(IsChoice(0.500005, 0.500005)));
    EXPECT_EQ(controller.userChangeCount(), 1u);
    EXPECT_THAT(desktop.writes(), ElementsAre(SimulatedWrite::setValue(second.volume, 0.500005)));
    EXPECT_EQ(desktop.outputLevel(shown), 0.500005);
    EXPECT_EQ(desktop.outputLevel(second), 0.500005);
    EXPECT_EQ(controller.tracked()[0].lastVolume, 0.500005);
    EXPECT_EQ(controller.restorationCount(), 2u);
}

TEST_F(PreviewControllerPass, ReappliesTheUsersMuteFromTheRememberedLevelAndReportsAnUnmuteOrADragToZero) {
    preference = AudioPreference::make(0.3, 0.3);
    const auto shown = openPreview();
    pass();
    desktop.clearWrites();

    desktop.userPressesSpeaker(shown);
    pass();
    EXPECT_THAT(reportedChoices, ElementsAre(IsChoice(0.0, 0.3)));
    EXPECT_THAT(desktop.writes(), ElementsAre(SimulatedWrite::setValue(shown.volume, 0.3),
                                              SimulatedWrite::press(shown.speaker)));
    EXPECT_TRUE(desktop.isMuted(shown));
    EXPECT_EQ(controller.tracked()[0].lastVolume, 0.0);
    desktop.clearWrites();
    pass();
    EXPECT_TRUE(desktop.writes().empty());
    EXPECT_EQ(controller.userChangeCount(), 1u);

    // An unmute is an audible choice.
    desktop.userPressesSpeaker(shown);
    pass();
    EXPECT_THAT(reportedChoices.back(), IsChoice(0.3, 0.3));
    EXPECT_EQ(desktop.outputLevel(shown), 0.3);

    // A slider dragged to zero is muted, so that unmuting restores the level.
    desktop.userMovesVolume(shown, 0.0);
    pass();
    EXPECT_THAT(reportedChoices.back(), IsChoice(0.0, 0.3));
    EXPECT_TRUE(desktop.isMuted(shown));
    desktop.userPressesSpeaker(shown);
    EXPECT_EQ(desktop.outputLevel(shown), 0.3);
}

TEST_F(PreviewControllerPass, KeepsItsListsWhenRecognitionFails) {
    const auto first = openPreview();
    pass();
    desktop.userMovesVolume(first, 0.7);
    const auto second = openPreview();
    desktop.wrapInGroup(second.speaker);
    EXPECT_EQ(passError(), "The native speaker button is unavailable; forced mute is suspended.");
    EXPECT_EQ(controller.tracked().size(), 1u);
    EXPECT_EQ(controller.tracked()[0].lastVolume, 0.5);

    desktop.userMovesVolume(first, 0.8);
    desktop.closeWindow(second.window);
    pass();
    EXPECT_THAT(reportedChoices, ElementsAre(IsChoice(0.8, 0.8)));
}

TEST_F(PreviewControllerPass, ObservesAWaitingPlayerUntilItShowsItsControls) {
    SimulatedPreview::Setup setup;
    setup.controlsExposed = false;
    const auto shown = openPreview(setup);
    pass();
    EXPECT_EQ(controller.waitingForControls().size(), 1u);
    EXPECT_EQ(controller.restorationCount(), 0u);
    EXPECT_THAT(desktop.observedNotifications(shown.window),
                ElementsAre("AXTitleChanged", "AXLayoutChanged", "AXUIElementDestroyed"));
    EXPECT_THAT(desktop.observedNotifications(shown.player),
                ElementsAre("AXValueChanged", "AXLayoutChanged", "AXUIElementDestroyed"));
    deliveredNotifications();

    desktop.exposeControls(shown);
    EXPECT_THAT(deliveredNotifications(), ElementsAre("AXLayoutChanged", "AXLayoutChanged"));
    pass();
    EXPECT_TRUE(controller.waitingForControls().empty());
    EXPECT_EQ(desktop.outputLevel(shown), 0.5);

    // A waiting player whose window closes loses its observers with the next pass.
    const auto closing = openPreview(setup);
    pass();
    desktop.closeWindow(closing.window);
    pass();
    EXPECT_TRUE(controller.waitingForControls().empty());
    EXPECT_TRUE(desktop.observedNotifications(closing.window).empty());
    EXPECT_TRUE(desktop.observedNotifications(closing.player).empty());
}

class PreviewControllerObservers : public PreviewControllerPass {};

TEST_F(PreviewControllerObservers, PollInsteadOfAnUnsupportedNotification) {
    desktop.refuseNotification("AXFocusedUIElementChanged");
    const auto shown = openPreview();
    pass();
    EXPECT_TRUE(controller.usesPolling());
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(
        log.entries[0],
        (testing::CapturingLog::Entry{
            "preview", LogLevel::defaultLevel,
            "Preview notification AXFocusedUIElementChanged is unavailable; using periodic observation."}));
    EXPECT_THAT(desktop.observedNotifications(shown.volume),
                ElementsAre("AXValueChanged", "AXUIElementDestroyed"));
}

TEST_F(PreviewControllerObservers,
       DeliverOnlyThroughTheRunLoopStopOnceRemovedReturnWithTheNextPassAndOutliveAClosedPreview) {
    const auto shown = openPreview();
    pass();
    deliveredNotifications();
    desktop.userMovesVolume(shown, 0.2);
    EXPECT_TRUE(notifications.empty());
    controller.removeObservers();
    EXPECT_TRUE(deliveredNotifications().empty());
    EXPECT_EQ(desktop.liveObserverCount(), 0u);

    pass();
    EXPECT_EQ(desktop.liveObserverCount(), 1u);
    desktop.userMovesVolume(shown, 0.3);
    EXPECT_THAT(deliveredNotifications(), ElementsAre("AXValueChanged"));

    // A closed preview is forgotten, and the host stays observed throughout by the same observer:
    // a window announced while a pass changes the registrations is still heard.
    const auto observers = desktop.observersCreated();
    desktop.closeWindow(shown.window);
    EXPECT_THAT(deliveredNotifications(), Contains("AXUIElementDestroyed"));
    pass();
    EXPECT_TRUE(controller.tracked().empty());
    EXPECT_EQ(desktop.observersCreated(), observers);
    EXPECT_EQ(desktop.observedNotifications(desktop.createApplication(finder)).size(), 3u);
    EXPECT_TRUE(desktop.observedNotifications(shown.volume).empty());
}

TEST_F(PreviewControllerObservers, IgnoreARegistrationThatExistsAlreadyAndFailWithTheOperationThatFailed) {
    openPreview();
    desktop.failCall(SimulatedDesktop::Call::observerAddNotification, kAXErrorNotificationAlreadyRegistered);
    pass();
    EXPECT_THAT(controller.observedHosts(), ElementsAre(finder));

    desktop.failCall(SimulatedDesktop::Call::observerAddNotification, kAXErrorFailure);
    controller.reset();
    EXPECT_EQ(passError(), "Observing AXWindowCreated failed (Accessibility status -25200).");
    EXPECT_EQ(controller.tracked().size(), 1u);

    desktop.failCall(SimulatedDesktop::Call::observerAddNotification, kAXErrorSuccess);
    desktop.failCall(SimulatedDesktop::Call::observerCreate, kAXErrorCannotComplete);
    controller.reset();
    EXPECT_EQ(passError(), "Creating the preview observer failed (Accessibility status -25204).");

    desktop.failCall(SimulatedDesktop::Call::observerCreate, kAXErrorSuccess);
    desktop.createNoObservers();
    controller.reset();
    EXPECT_EQ(passError(), "macOS did not create the preview observer.");

    desktop.createNoObservers(false);
    desktop.failCall(SimulatedDesktop::Call::getPid, kAXErrorFailure);
    controller.reset();
    EXPECT_EQ(passError(), "Identifying the preview control's process failed (Accessibility status -25200).");
}

TEST_F(PreviewControllerObservers, AreInstalledAgainAfterAFailedInstallation) {
    openPreview();
    pass();
    const auto second = openPreview();
    desktop.failCall(SimulatedDesktop::Call::observerAddNotification, kAXErrorFailure);
    EXPECT_NE(passError(), "no error");

    // Nothing changed since the failed pass stored its lists, yet its observers are missing.
    desktop.failCall(SimulatedDesktop::Call::observerAddNotification, kAXErrorSuccess);
    pass();
    EXPECT_EQ(desktop.liveObserverCount(), 1u);
    EXPECT_THAT(desktop.observedNotifications(second.volume),
                ElementsAre("AXValueChanged", "AXUIElementDestroyed"));
}

class PreviewControllerHosts : public PreviewControllerPass {};

TEST_F(PreviewControllerHosts, WaitForFinderAndObserveEveryRunningOneInAscendingOrder) {
    desktop.quitApplication(finder);
    pass();
    EXPECT_TRUE(controller.tracked().empty());
    EXPECT_TRUE(controller.observedHosts().empty());
    EXPECT_EQ(desktop.liveObserverCount(), 0u);

    desktop.launchApplication("com.apple.finder", 377);
    desktop.launchApplication("com.apple.Safari", 90);
    pass();
    EXPECT_THAT(controller.observedHosts(), ElementsAre(377));
    EXPECT_EQ(desktop.liveObserverCount(), 1u);

    // Every running Finder is a host, in ascending order.
    desktop.launchApplication("com.apple.finder", 97);
    pass();
    EXPECT_THAT(controller.observedHosts(), ElementsAre(97, 377));
}

TEST_F(PreviewControllerHosts, ComeFromTheOwnerWhenItNamesThem) {
    desktop.launchApplication("com.apple.Preview", 600);
    PreviewController ownHosts(
        desktop, workspace, runLoop, log, [](const AudioPreference&) {}, [](const std::string&) {},
        [] { return std::vector<ProcessID>{600}; });
    const auto shown = desktop.openPreview(600);
    ownHosts.synchronize(preference);
    EXPECT_EQ(desktop.outputLevel(shown), 0.5);
    EXPECT_THAT(ownHosts.observedHosts(), ElementsAre(600));
}

class PreviewControllerLiveState : public PreviewControllerPass {
protected:
    std::string validationError() {
        return messageOf([&] { controller.validateLiveState(); });
    }
};

TEST_F(PreviewControllerLiveState, NoticesAChangeThatNoPassHasSeenAndASliderItCannotRead) {
    const auto shown = openPreview();
    pass();
    EXPECT_EQ(validationError(), "no error");
    desktop.userMovesVolume(shown, 0.2);
    EXPECT_EQ(validationError(), "A native preview audio change is still awaiting observation.");
    pass();
    EXPECT_EQ(validationError(), "no error");
    // Nothing is held against a preview that closed.
    desktop.closeWindow(shown.window);
    EXPECT_EQ(validationError(), "no error");

    // A slider it cannot read is reported.
    const auto reopened = openPreview();
    pass();
    desktop.overrideAttribute(reopened.volume, "AXValue", std::nullopt);
    EXPECT_EQ(validationError(), "The native preview volume is unavailable.");
    desktop.overrideAttribute(reopened.volume, "AXValue", CFValue("50%"));
    EXPECT_EQ(validationError(), "macOS returned a non-numeric value for AXValue.");
    desktop.overrideAttribute(reopened.volume, "AXValue", 1.5);
    EXPECT_EQ(validationError(), "Quick Look volume must be a finite number from zero to one.");
    desktop.makeSlow(finder);
    EXPECT_EQ(validationError(), "Reading AXValue failed (Accessibility status -25204).");
}

}  // namespace
}  // namespace tessaly
