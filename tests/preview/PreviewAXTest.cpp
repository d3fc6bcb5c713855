#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "foundation/PreviewAccessibilityError.h"
#include "preview/PreviewAX.h"
#include "support/DesktopFixture.h"
#include "support/ErrorMessage.h"

namespace tessaly {
namespace {

using testing::messageOf;
using testing::thrown;

class PreviewAXRead : public testing::DesktopFixture {
protected:
    SimulatedPreview preview = openPreview();
    PreviewAX ax{desktop};
};

TEST_F(PreviewAXRead, TreatsAnUnsupportedAttributeOrOneWithoutValueAsAbsent) {
    EXPECT_EQ(ax.value(preview.volume, "AXValueDescription"), std::nullopt);
    EXPECT_EQ(ax.number(preview.volume, "AXValueDescription"), std::nullopt);
    EXPECT_TRUE(ax.elements(preview.volume, "AXSelectedChildren").empty());
    desktop.failAttribute(preview.window, "AXDocument", kAXErrorNoValue);
    desktop.overrideAttribute(preview.window, "AXTitle", std::nullopt);
    EXPECT_EQ(ax.string(preview.window, "AXDocument"), std::nullopt);
    EXPECT_EQ(ax.string(preview.window, "AXTitle"), std::nullopt);
    EXPECT_TRUE(ax.elements(preview.window, "AXTitle").empty());
    desktop.overrideAttribute(preview.player, "AXChildren", CFArray{});
    EXPECT_TRUE(ax.elements(preview.player, "AXChildren").empty());
}

TEST_F(PreviewAXRead, GivesAScannedApplicationAHalfSecondTimeoutAndReportsATimedOutRead) {
    EXPECT_EQ(desktop.messagingTimeout(ax.applicationForScanning(finder)), 0.5f);
    desktop.makeSlow(finder);
    const auto error = thrown<PreviewAccessibilityError>([&] { ax.string(preview.player, "AXRole"); });
    EXPECT_EQ(error.operation(), "Reading AXRole");
    EXPECT_EQ(error.code(), -25204);
    EXPECT_STREQ(error.what(), "Reading AXRole failed (Accessibility status -25204).");
    desktop.failCall(SimulatedDesktop::Call::setMessagingTimeout, kAXErrorFailure);
    EXPECT_EQ(messageOf([&] { ax.applicationForScanning(finder); }),
              "Setting the Accessibility timeout failed (Accessibility status -25200).");
}

TEST_F(PreviewAXRead, RefusesValuesOfTheWrongKindNumbersThatAreNotFiniteAndVanishedElements) {
    // Numbers that are not finite are no numbers.
    for (const CFValue& bad : {CFValue(std::numeric_limits<double>::infinity()), CFValue(std::nan("")),
                               CFValue(true), CFValue("0")}) {
        desktop.overrideAttribute(preview.volume, "AXMinValue", bad);
        EXPECT_EQ(messageOf([&] { ax.number(preview.volume, "AXMinValue"); }),
                  "macOS returned a non-numeric value for AXMinValue.");
    }
    const std::vector<std::pair<std::function<void()>, std::string>> cases{
        {[&] { ax.value(CFValue("AXWindow"), "AXRole"); },
         "macOS returned an invalid Accessibility element."},
        {[&] {
             desktop.overrideAttribute(preview.window, "AXTitle", CFValue(3));
             ax.string(preview.window, "AXTitle");
         },
         "macOS returned a non-text value for AXTitle."},
        {[&] {
             desktop.overrideAttribute(preview.player, "AXChildren",
                                       CFArray{CFValue(preview.volume), CFValue("slider")});
             ax.elements(preview.player, "AXChildren");
         },
         "macOS returned invalid children for AXChildren."},
        {[&] {
             desktop.overrideAttribute(preview.player, "AXChildren", CFValue(preview.volume));
             ax.elements(preview.player, "AXChildren");
         },
         "macOS returned invalid children for AXChildren."},
        {[&] {
             desktop.vanishWindow(preview.window);
             ax.value(preview.volume, "AXValue");
         },
         "Reading AXValue failed (Accessibility status -25202)."}};
    for (const auto& [read, message] : cases) EXPECT_EQ(messageOf(read), message);
}

class PreviewAXVolume : public PreviewAXRead {};

TEST_F(PreviewAXVolume, SetsTheRangeFromZeroToOneLeavesTheSliderUntouchedOutsideItAndReportsAFailedSet) {
    for (double bad : {1.0000001, -0.1, std::nan(""), std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(messageOf([&] { ax.setVolume(preview.volume, bad); }),
                  "Quick Look volume must be a finite number from zero to one.");
    }
    EXPECT_TRUE(desktop.writes().empty());
    EXPECT_EQ(desktop.outputLevel(preview), 1.0);
    ax.setVolume(preview.volume, 0.0);
    ax.setVolume(preview.volume, -0.0);
    ax.setVolume(preview.volume, 1.0);
    EXPECT_EQ(desktop.writes().size(), 3u);
    desktop.failCall(SimulatedDesktop::Call::setAttributeValue, kAXErrorCannotComplete);
    EXPECT_EQ(messageOf([&] { ax.setVolume(preview.volume, 0.4); }),
              "Setting the native preview volume failed (Accessibility status -25204).");
}

}  // namespace
}  // namespace tessaly
