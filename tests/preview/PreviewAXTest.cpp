#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "foundation/PreviewAccessibilityError.h"
#include "preview/PreviewAX.h"
#include "support/DesktopFixture.h"

namespace tessaly {
namespace {

using testing::messageOf;

class PreviewAXRead : public testing::DesktopFixture {
protected:
    SimulatedPreview preview = openPreview();
    PreviewAX ax{desktop};
};

TEST_F(PreviewAXRead, TreatsAnUnsupportedAttributeAsAbsent) {
    EXPECT_EQ(ax.value(preview.volume, "AXValueDescription"), std::nullopt);
    EXPECT_EQ(ax.number(preview.volume, "AXValueDescription"), std::nullopt);
    EXPECT_TRUE(ax.elements(preview.volume, "AXSelectedChildren").empty());
}

TEST_F(PreviewAXRead, TreatsAnAttributeWithoutValueAsAbsent) {
    desktop.failAttribute(preview.window, "AXDocument", kAXErrorNoValue);
    desktop.overrideAttribute(preview.window, "AXTitle", std::nullopt);
    EXPECT_EQ(ax.string(preview.window, "AXDocument"), std::nullopt);
    EXPECT_EQ(ax.string(preview.window, "AXTitle"), std::nullopt);
    EXPECT_TRUE(ax.elements(preview.window, "AXTitle").empty());
}

TEST_F(PreviewAXRead, ReportsATimedOutReadWithItsStatus) {
    desktop.makeSlow(finder);
    try {
        ax.string(preview.player, "AXRole");
        FAIL() << "a read that timed out passed";
    } catch (const PreviewAccessibilityError& error) {
        EXPECT_EQ(error.operation(), "Reading AXRole");
        EXPECT_EQ(error.code(), -25204);
        EXPECT_STREQ(error.what(), "Reading AXRole failed (Accessibility status -25204).");
    }
}

TEST_F(PreviewAXRead, ReportsAVanishedElementAsAnError) {
    desktop.vanishWindow(preview.window);
    EXPECT_EQ(messageOf([&] { ax.value(preview.volume, "AXValue"); }),
              "Reading AXValue failed (Accessibility status -25202).");
}

TEST_F(PreviewAXRead, RefusesNumbersThatAreNotFinite) {
    for (const CFValue& bad : {CFValue(std::numeric_limits<double>::infinity()), CFValue(std::nan("")),
                               CFValue(true), CFValue("0")}) {
        desktop.overrideAttribute(preview.volume, "AXMinValue", bad);
        EXPECT_EQ(messageOf([&] { ax.number(preview.volume, "AXMinValue"); }),
                  "macOS returned a non-numeric value for AXMinValue.");
    }
}

TEST_F(PreviewAXRead, RefusesOtherTypesWhereTextIsExpected) {
    desktop.overrideAttribute(preview.window, "AXTitle", CFValue(3));
    EXPECT_EQ(messageOf([&] { ax.string(preview.window, "AXTitle"); }),
              "macOS returned a non-text value for AXTitle.");
}

TEST_F(PreviewAXRead, RefusesChildrenWithOneMemberThatIsNotAnElement) {
    desktop.overrideAttribute(preview.player, "AXChildren",
                              CFArray{CFValue(preview.volume), CFValue("slider")});
    EXPECT_EQ(messageOf([&] { ax.elements(preview.player, "AXChildren"); }),
              "macOS returned invalid children for AXChildren.");
    desktop.overrideAttribute(preview.player, "AXChildren", CFValue(preview.volume));
    EXPECT_EQ(messageOf([&] { ax.elements(preview.player, "AXChildren"); }),
              "macOS returned invalid children for AXChildren.");
}

TEST_F(PreviewAXRead, AcceptsAnEmptyChildList) {
    desktop.overrideAttribute(preview.player, "AXChildren", CFArray{});
    EXPECT_TRUE(ax.elements(preview.player, "AXChildren").empty());
}

TEST_F(PreviewAXRead, RefusesAnObjectThatIsNotAnElement) {
    EXPECT_EQ(messageOf([&] { ax.value(CFValue("AXWindow"), "AXRole"); }),
              "macOS returned an invalid Accessibility element.");
}

class PreviewAXVolume : public PreviewAXRead {};

TEST_F(PreviewAXVolume, AcceptsBothEndsOfTheRange) {
    ax.setVolume(preview.volume, 1.0);
    ax.setVolume(preview.volume, 0.0);
    ax.setVolume(preview.volume, -0.0);
    EXPECT_EQ(desktop.writes().size(), 3u);
}

TEST_F(PreviewAXVolume, LeavesTheSliderUntouchedOutsideTheRange) {
    for (double bad : {1.0000001, -0.1, std::nan(""), std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(messageOf([&] { ax.setVolume(preview.volume, bad); }),
                  "Quick Look volume must be a finite number from zero to one.");
    }
    EXPECT_TRUE(desktop.writes().empty());
    EXPECT_EQ(desktop.outputLevel(preview), 1.0);
}

TEST_F(PreviewAXVolume, ReportsAFailedSet) {
    desktop.failCall(SimulatedDesktop::Call::setAttributeValue, kAXErrorCannotComplete);
    EXPECT_EQ(messageOf([&] { ax.setVolume(preview.volume, 0.4); }),
              "Setting the native preview volume failed (Accessibility status -25204).");
}

TEST_F(PreviewAXRead, GivesAScannedApplicationAHalfSecondTimeout) {
    const AXUIElement application = ax.applicationForScanning(finder);
    EXPECT_EQ(desktop.messagingTimeout(application), 0.5f);
    desktop.failCall(SimulatedDesktop::Call::setMessagingTimeout, kAXErrorFailure);
    EXPECT_EQ(messageOf([&] { ax.applicationForScanning(finder); }),
              "Setting the Accessibility timeout failed (Accessibility status -25200).");
}

}  // namespace
}  // namespace tessaly
