// What the core relies on from the Accessibility API, asked of the simulated desktop directly and of
// the Mac adapter over the stand-in frameworks. Element identities come from the port asked, so the
// tests find elements through it; through the adapter every Core Foundation reference must be given
// back by the end of each test.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BalancedReferences.h"
#include "mac/MacAccessibility.h"
#include "mac/standin/MacStandin.h"
#include "support/DesktopFixture.h"

namespace tessaly {
namespace {

using ::testing::ElementsAre;
using testing::IsChoice;
using testing::Route;

struct Heard {
    AXUIElement element;
    std::string notification;
    void* refcon;
};

class AccessibilityContract : public testing::DesktopFixture, public ::testing::WithParamInterface<Route> {
protected:
    void SetUp() override {
        if (GetParam() == Route::simulation) return;
        MacStandin::resetReferenceCounts();
        MacStandin::routeAccessibility(&desktop);
        MacStandin::routeMainQueue(&runLoop);
        adapter = std::make_unique<MacAccessibility>();
    }
    void TearDown() override {
        controller.reset();
        observer.reset();
        if (GetParam() == Route::simulation) return;
        adapter.reset();
        runLoop.runUntilIdle();
        testing::expectBalancedReferences();
        MacStandin::routeAccessibility(nullptr);
        MacStandin::routeMainQueue(nullptr);
    }

    Accessibility& port() { return adapter ? static_cast<Accessibility&>(*adapter) : desktop; }

    CFArray windows() {
        std::optional<CFValue> value;
        EXPECT_EQ(port().copyAttributeValue(port().createApplication(finder), "AXWindows", value),
                  kAXErrorSuccess);
        return value && value->array() ? *value->array() : CFArray{};
    }

    static void record(const AXObserverRef&, const AXUIElement& element, const std::string& notification,
                       void* refcon) {
        static_cast<std::vector<Heard>*>(refcon)->push_back({element, notification, refcon});
    }

    std::unique_ptr<MacAccessibility> adapter;
    std::unique_ptr<PreviewController> controller;
    AXObserverRef observer;
    std::vector<Heard> heard;
};

TEST_P(AccessibilityContract, ThePreviewControllerRestoresAndHearsTheUserThroughThePort) {
    AudioPreference preference = AudioPreference::make(0.5, 0.5);
    std::vector<AudioPreference> choices;
    std::vector<std::string> notifications;
    controller = std::make_unique<PreviewController>(
        port(), workspace, runLoop, log, [&](const AudioPreference& choice) { choices.push_back(choice); },
        [&](const std::string& name) { notifications.push_back(name); });

    const auto shown = openPreview();
    controller->synchronize(preference);
    EXPECT_EQ(desktop.outputLevel(shown), 0.5);
    EXPECT_THAT(desktop.observedNotifications(shown.volume),
                ElementsAre("AXValueChanged", "AXUIElementDestroyed"));

    desktop.userMovesVolume(shown, 0.3);
    runLoop.runUntilIdle();
    EXPECT_THAT(notifications, ElementsAre("AXValueChanged"));
    controller->synchronize(preference);
    EXPECT_THAT(choices, ElementsAre(IsChoice(0.3, 0.3)));

    desktop.userPressesSpeaker(shown);
    runLoop.runUntilIdle();
    controller->synchronize(AudioPreference::make(0.3, 0.3));
    EXPECT_THAT(choices, ElementsAre(IsChoice(0.3, 0.3), IsChoice(0.0, 0.3)));

    desktop.closeWindow(shown.window);
    runLoop.runUntilIdle();
    controller->synchronize(AudioPreference::make(0.0, 0.3));
    EXPECT_TRUE(controller->tracked().empty());
    controller.reset();
    EXPECT_EQ(desktop.liveObserverCount(), 0u);
}

TEST_P(AccessibilityContract, TrustIsAskedWithAndWithoutThePrompt) {
    EXPECT_TRUE(port().isProcessTrusted());
    desktop.revokeTrust();
    EXPECT_FALSE(port().isProcessTrusted());
    EXPECT_FALSE(port().isProcessTrustedWithOptions(false));
    EXPECT_EQ(desktop.promptsShown(), 0);
    EXPECT_FALSE(port().isProcessTrustedWithOptions(true));
    EXPECT_EQ(desktop.promptsShown(), 1);
}

TEST_P(AccessibilityContract, TheSameElementReadsAsTheSameIdentityEveryTime) {
    openPreview();
    EXPECT_EQ(port().createApplication(finder), port().createApplication(finder));
    EXPECT_NE(port().createApplication(finder), port().createApplication(700));
    const CFArray first = windows();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(windows(), first);

    const AXUIElement window = *first[0].element();
    ProcessID pid = 0;
    EXPECT_EQ(port().getPid(window, pid), kAXErrorSuccess);
    EXPECT_EQ(pid, finder);
    std::optional<CFValue> parent;
    EXPECT_EQ(port().copyAttributeValue(window, "AXParent", parent), kAXErrorSuccess);
    EXPECT_EQ(parent, CFValue(port().createApplication(finder)));
    EXPECT_EQ(port().setMessagingTimeout(port().createApplication(finder), 0.5f), kAXErrorSuccess);
    EXPECT_EQ(desktop.messagingTimeout(desktop.createApplication(finder)), 0.5f);
}

TEST_P(AccessibilityContract, StatusesPassThroughUnchanged) {
    const auto shown = openPreview();
    const AXUIElement window = *windows().at(0).element();
    std::optional<CFValue> value = CFValue("stale");
    EXPECT_EQ(port().copyAttributeValue(window, "AXNoSuchAttribute", value), kAXErrorAttributeUnsupported);
    EXPECT_EQ(port().copyAttributeValue(window, "AXTitle", value), kAXErrorSuccess);
    EXPECT_EQ(value, CFValue("Harbour.mov"));

    desktop.failCall(SimulatedDesktop::Call::performAction, kAXErrorCannotComplete);
    EXPECT_EQ(port().performAction(window, "AXPress"), kAXErrorCannotComplete);
    desktop.failCall(SimulatedDesktop::Call::setAttributeValue, static_cast<AXError>(-4711));
    EXPECT_EQ(port().setAttributeValue(window, "AXValue", CFValue(0.2)), -4711);
    bool settable = true;
    desktop.failCall(SimulatedDesktop::Call::isAttributeSettable, kAXErrorFailure);
    EXPECT_EQ(port().isAttributeSettable(window, "AXValue", settable), kAXErrorFailure);

    desktop.failCall(SimulatedDesktop::Call::performAction, kAXErrorSuccess);
    desktop.closeWindow(shown.window);
    EXPECT_EQ(port().copyAttributeValue(window, "AXTitle", value), kAXErrorInvalidUIElement);
    EXPECT_EQ(port().copyAttributeValue(window, "AXTitle", value), kAXErrorInvalidUIElement);
    EXPECT_EQ(port().performAction(window, "AXPress"), kAXErrorInvalidUIElement);
}

TEST_P(AccessibilityContract, ObserversDeliverOnTheMainRunLoopOnlyWhileAttachedAndRegistered) {
    const AXUIElement application = port().createApplication(finder);
    ASSERT_EQ(port().observerCreate(finder, record, observer), kAXErrorSuccess);
    ASSERT_TRUE(observer);
    desktop.refuseNotification("AXMenuOpened");
    EXPECT_EQ(port().observerAddNotification(observer, application, "AXMenuOpened", &heard),
              kAXErrorNotificationUnsupported);
    ASSERT_EQ(port().observerAddNotification(observer, application, "AXWindowCreated", &heard),
              kAXErrorSuccess);

    openPreview();
    runLoop.runUntilIdle();
    EXPECT_TRUE(heard.empty());

    port().observerAddToMainRunLoop(observer);
    openPreview();
    EXPECT_TRUE(heard.empty());
    runLoop.runUntilIdle();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].notification, "AXWindowCreated");
    EXPECT_EQ(heard[0].refcon, &heard);
    EXPECT_THAT(windows(), ::testing::Contains(CFValue(heard[0].element)));

    port().observerRemoveFromMainRunLoop(observer);
    openPreview();
    runLoop.runUntilIdle();
    port().observerAddToMainRunLoop(observer);
    ASSERT_EQ(port().observerRemoveNotification(observer, application, "AXWindowCreated"), kAXErrorSuccess);
    openPreview();
    runLoop.runUntilIdle();
    EXPECT_EQ(heard.size(), 1u);
    EXPECT_EQ(port().observerRemoveNotification(observer, application, "AXWindowCreated"),
              kAXErrorNotificationNotRegistered);
}

INSTANTIATE_TEST_SUITE_P(, AccessibilityContract, ::testing::Values(Route::simulation, Route::macAdapter),
                         testing::routeName);

}  // namespace
}  // namespace tessaly
