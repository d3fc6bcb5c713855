#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/DesktopFixture.h"

namespace tessaly {
namespace {

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

}  // namespace
}  // namespace tessaly
