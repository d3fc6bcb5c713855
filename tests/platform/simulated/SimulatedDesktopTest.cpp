#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/DesktopFixture.h"

namespace tessaly {
namespace {

using ::testing::ElementsAre;

// The behaviours of the real desktop that the preview controls rely on.
class SimulatedQuickLookPlayer : public testing::DesktopFixture {
protected:
    std::optional<CFValue> read(const AXUIElement& element, const std::string& attribute, AXError expected) {
        std::optional<CFValue> value;
        EXPECT_EQ(desktop.copyAttributeValue(element, attribute, value), expected) << attribute;
        return value;
    }

    SimulatedPreview shown = openPreview();
};

TEST_F(SimulatedQuickLookPlayer,
       ReadsZeroWhileMutedUnmutesAboveZeroDescribesOnlyTheTimelineAndEndsWithItsWindow) {
    ASSERT_EQ(desktop.performAction(shown.speaker, "AXPress"), kAXErrorSuccess);
    EXPECT_EQ(read(shown.volume, "AXValue", kAXErrorSuccess), CFValue(0.0));
    ASSERT_EQ(desktop.setAttributeValue(shown.volume, "AXValue", 0.4), kAXErrorSuccess);
    EXPECT_FALSE(desktop.isMuted(shown));
    EXPECT_EQ(desktop.outputLevel(shown), 0.4);
    EXPECT_EQ(read(shown.volume, "AXValue", kAXErrorSuccess), CFValue(0.4));

    EXPECT_EQ(read(shown.timeline, "AXValueDescription", kAXErrorSuccess), CFValue("0:00"));
    read(shown.volume, "AXValueDescription", kAXErrorAttributeUnsupported);

    desktop.closeWindow(shown.window);
    read(shown.volume, "AXValue", kAXErrorInvalidUIElement);
    EXPECT_THAT(read(desktop.createApplication(finder), "AXWindows", kAXErrorSuccess), CFValue(CFArray{}));
}

using SimulatedWorkspaceTest = testing::DesktopFixture;

TEST_F(SimulatedWorkspaceTest, ListsTheDesktopsRunningApplicationsAndOpensURLsUntilRefused) {
    desktop.launchApplication("com.apple.TextEdit", 700);
    EXPECT_THAT(workspace.runningApplications("com.apple.finder"),
                ElementsAre(RunningApplication{finder, "com.apple.finder"}));
    desktop.quitApplication(finder);
    EXPECT_TRUE(workspace.runningApplications("com.apple.finder").empty());

    EXPECT_TRUE(workspace.openURL("x-apple.systempreferences:com.apple.preference.security"));
    workspace.refuseOpeningURLs();
    EXPECT_FALSE(workspace.openURL("file:///Users/tess"));
    EXPECT_THAT(workspace.openedURLs(),
                ElementsAre("x-apple.systempreferences:com.apple.preference.security"));
}

}  // namespace
}  // namespace tessaly
