#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <map>

#include "preview/NativePreview.h"
#include "preview/PreviewControlRule.h"
#include "preview/PreviewDiscovery.h"
#include "support/DesktopFixture.h"

namespace tessaly {
namespace {

using ::testing::ElementsAre;
using testing::messageOf;

class PreviewScan : public testing::DesktopFixture {
protected:
    PreviewDiscovery scan() { return NativePreview::scan(desktop, finder); }
    std::string scanError() {
        return messageOf([&] { scan(); });
    }
};

TEST_F(PreviewScan, FindsNothingWithoutAPlayerAndRecognisesThePlayersControlsAndTheShownDocument) {
    EXPECT_TRUE(scan().previews.empty());
    desktop.openWindow(finder, "Documents");
    EXPECT_TRUE(scan().previews.empty());
    EXPECT_TRUE(scan().waitingForControls.empty());

    const auto shown = openPreview();
    const auto discovery = scan();
    ASSERT_EQ(discovery.previews.size(), 1u);
    const NativePreview& preview = discovery.previews[0];
    EXPECT_EQ(preview.hostPID, finder);
    EXPECT_EQ(preview.window, shown.window);
    EXPECT_EQ(preview.player, shown.player);
    EXPECT_EQ(preview.volume, shown.volume);
    EXPECT_EQ(preview.mute, shown.speaker);
    EXPECT_EQ(preview.timeline, shown.timeline);
    EXPECT_EQ(preview.duration, 93.5);
    EXPECT_EQ(preview.titleElements, shown.titleTexts);
    EXPECT_EQ(preview.document, "file:///Users/tess/Movies/Harbour.mov");
    EXPECT_EQ(preview.title, "Harbour.mov");
    EXPECT_THAT(preview.titleValues, ElementsAre("Harbour.mov"));
    EXPECT_TRUE(discovery.waitingForControls.empty());
}

TEST_F(PreviewScan, ReportsAPlayerWithHiddenControlsAsWaiting) {
    SimulatedPreview::Setup setup;
    setup.controlsExposed = false;
    const auto shown = openPreview(setup);
    const auto discovery = scan();
    EXPECT_TRUE(discovery.previews.empty());
    EXPECT_THAT(discovery.waitingForControls,
                ElementsAre(PreviewContainer{finder, shown.window, shown.player,
                                             "file:///Users/tess/Movies/Harbour.mov"}));

    // A player that exposes only its timeline is waiting as well.
    const auto partial = openPreview();
    desktop.removeElement(partial.volume);
    desktop.removeElement(partial.speaker);
    EXPECT_EQ(scan().waitingForControls.size(), 2u);
}

TEST_F(PreviewScan, SkipsAWindowThatClosesWhileItIsReadAndKeepsWhatAVanishingOneContributed) {
    const auto closing = openPreview();
    const auto staying = openPreview();
    desktop.onRead(closing.volume, "AXMinValue", [&] { desktop.closeWindow(closing.window); });
    const auto discovery = scan();
    ASSERT_EQ(discovery.previews.size(), 1u);
    EXPECT_EQ(discovery.previews[0].window, staying.window);

    // What a window contributed before it vanished is kept.
    const auto image = desktop.addElement(staying.window, "AXImage");
    desktop.onRead(image, "AXChildren", [&] { desktop.vanishWindow(staying.window); });
    const auto afterVanishing = scan();
    ASSERT_EQ(afterVanishing.previews.size(), 1u);
    EXPECT_EQ(afterVanishing.previews[0].player, staying.player);
}

TEST_F(PreviewScan, ReadsTitleTextsSkippingThoseWithoutValue) {
    SimulatedPreview::Setup setup;
    setup.document.reset();
    setup.titleTexts = {"Harbour.mov", "0:42"};
    const auto shown = openPreview(setup);
    desktop.failAttribute(shown.titleTexts[0], "AXValue", kAXErrorNoValue);
    const auto preview = scan().previews.at(0);
    EXPECT_EQ(preview.document, std::nullopt);
    EXPECT_EQ(preview.titleElements.size(), 2u);
    EXPECT_THAT(preview.titleValues, ElementsAre("0:42"));
    desktop.overrideAttribute(shown.titleTexts[1], "AXValue", CFValue(42));
    EXPECT_EQ(scanError(), "macOS returned a non-text value for AXValue.");
}

TEST_F(PreviewScan, RefusesControlsItDoesNotRecognise) {
    const std::string timeline = "The preview's timeline is not recognized; forced mute is suspended.";
    const std::string speaker = "The native speaker button is unavailable; forced mute is suspended.";
    const std::vector<std::pair<std::function<void(const SimulatedPreview&)>, std::string>> cases{
        {[&](const auto& shown) { desktop.failAttribute(shown.player, "AXRole", kAXErrorCannotComplete); },
         "Reading AXRole failed (Accessibility status -25204)."},
        {[&](const auto& shown) { desktop.overrideAttribute(shown.playButton, "AXRole", CFValue(1)); },
         "macOS returned a non-text value for AXRole."},
        {[&](const auto& shown) { desktop.removeElement(shown.timeline); }, timeline},
        {[&](const auto& shown) {
             desktop.overrideAttribute(shown.timeline, "AXMaxValue", 1.0);
             desktop.failAttribute(shown.timeline, "AXValueDescription", kAXErrorAttributeUnsupported);
         },
         "The preview's audio controls are not recognized; forced mute is suspended."},
        // The speaker is the button right before the volume slider, under the same parent.
        {[&](const auto& shown) {
             desktop.removeElement(shown.speaker);
             desktop.moveElement(shown.volume, desktop.parentOf(shown.playButton), 0);
         },
         speaker},
        {[&](const auto& shown) {
             desktop.addElement(desktop.parentOf(shown.volume), "AXStaticText", {{"AXValue", "100%"}}, 3);
         },
         speaker},
        {[&](const auto& shown) { desktop.wrapInGroup(shown.speaker); }, speaker},
        {[&](const auto& shown) { desktop.overrideAttribute(shown.speaker, "AXParent", std::nullopt); },
         speaker}};
    for (const auto& [change, message] : cases) {
        const auto shown = openPreview();
        change(shown);
        EXPECT_EQ(scanError(), message);
        desktop.closeWindow(shown.window);
    }
}

TEST_F(PreviewScan, RefusesAVolumeThatCannotBeSetAndGivesUpOnAHostThatDoesNotAnswerInTime) {
    const auto shown = openPreview();
    desktop.setSettable(shown.volume, "AXValue", false);
    EXPECT_EQ(scanError(), "The native preview volume cannot be restored.");
    desktop.failCall(SimulatedDesktop::Call::isAttributeSettable, kAXErrorFailure);
    EXPECT_EQ(scanError(),
              "Checking the native preview volume control failed (Accessibility status -25200).");

    // Half a second is all a host's windows are waited for.
    desktop.answerAfter(finder, 0.6);
    EXPECT_EQ(scanError(), "Reading AXWindows failed (Accessibility status -25204).");
}

class PreviewSliderRule : public PreviewScan {};

TEST_F(PreviewSliderRule, TakesTheDescribedOfTwoUnitSlidersAsTimelineSkipsUnboundedOnesAndNeedsNumbers) {
    const auto shown = openPreview();
    desktop.overrideAttribute(shown.timeline, "AXMaxValue", 1.0);
    desktop.addElement(desktop.parentOf(shown.volume), "AXSlider", {{"AXMaxValue", 1.0}});  // no minimum
    const auto discovery = scan();
    ASSERT_EQ(discovery.previews.size(), 1u);
    EXPECT_EQ(discovery.previews[0].volume, shown.volume);
    EXPECT_EQ(discovery.previews[0].timeline, shown.timeline);
    EXPECT_EQ(discovery.previews[0].duration, 1.0);

    desktop.overrideAttribute(shown.volume, "AXMaxValue", CFValue(std::numeric_limits<double>::infinity()));
    EXPECT_EQ(scanError(), "macOS returned a non-numeric value for AXMaxValue.");
    desktop.overrideAttribute(shown.volume, "AXMinValue", CFValue("0"));
    EXPECT_EQ(scanError(), "macOS returned a non-numeric value for AXMinValue.");
}

TEST(PreviewSliderChoice, TakesTheOnlyUnitSliderAsVolumeBesideExactlyOneTimeline) {
    EXPECT_EQ(PreviewControlRule::volumeIndex({{0, 0, 93, true}, {3, 0, 1, true}}), 3u);
    EXPECT_EQ(PreviewControlRule::volumeIndex({{0, 0, 1, true}, {3, 0, 1, true}}), std::nullopt);
    EXPECT_EQ(PreviewControlRule::volumeIndex({{0, 0.0, 100, false}}), std::nullopt);
    // It waits until more than a timeline is exposed.
    EXPECT_EQ(PreviewControlRule::sliderSelection({}), std::nullopt);
    EXPECT_EQ(PreviewControlRule::sliderSelection({{2, 0, 93, true}}), std::nullopt);

    const auto selection = PreviewControlRule::sliderSelection({{1, 0, 93, true}, {3, 0, 1, false}});
    ASSERT_TRUE(selection);
    EXPECT_EQ(selection->volumeIndex, 3u);
    EXPECT_EQ(selection->timeline, (PreviewSlider{1, 0, 93, true}));
    for (const std::vector<PreviewSlider>& sliders :
         {std::vector<PreviewSlider>{{1, 0, 93, true}, {2, 0, 50, true}, {3, 0, 1, false}},
          std::vector<PreviewSlider>{{1, 5, 93, true}, {3, 0, 1, false}}}) {
        EXPECT_EQ(messageOf([&] { PreviewControlRule::sliderSelection(sliders); }),
                  "The preview's timeline is not recognized; forced mute is suspended.");
    }
}

class PreviewControlLimits : public PreviewScan {};

TEST_F(PreviewControlLimits,
       FindControlsInEightNestedGroupsButNotNineAndWalkOneHundredTwentyEightElementsButNoMore) {
    SimulatedPreview::Setup setup;
    setup.groupDepth = 8;
    const auto nested = openPreview(setup);
    EXPECT_EQ(scan().previews.size(), 1u);
    setup.groupDepth = 9;
    const auto deeper = openPreview(setup);
    EXPECT_EQ(scanError(), "The preview's controls are too deeply nested; forced mute is suspended.");
    desktop.closeWindow(nested.window);
    desktop.closeWindow(deeper.window);

    const auto shown = openPreview();
    const AXUIElement controls = desktop.parentOf(shown.volume);
    while (desktop.descendantCount(shown.player) < 128) desktop.addElement(controls, "AXStaticText");
    EXPECT_EQ(scan().previews.size(), 1u);

    desktop.addElement(controls, "AXStaticText");
    EXPECT_EQ(scanError(), "The preview exposes too many controls; forced mute is suspended.");
}

TEST(PreviewGroupFlattening, PutsAGroupsElementsWhereTheGroupStood) {
    // 1, group 2 [3, group 7 [4], 5], 6.
    const std::map<std::uint64_t, std::vector<AXUIElement>> groups = {
        {2, {AXUIElement(3), AXUIElement(7), AXUIElement(5)}}, {7, {AXUIElement(4)}}};
    auto grouped = [&](const AXUIElement& element) -> std::optional<std::vector<AXUIElement>> {
        auto found = groups.find(element.identity());
        if (found == groups.end()) return std::nullopt;
        return found->second;
    };
    EXPECT_THAT(PreviewControlRule::flattenGroups({AXUIElement(1), AXUIElement(2), AXUIElement(6)}, grouped),
                ElementsAre(AXUIElement(1), AXUIElement(3), AXUIElement(4), AXUIElement(5), AXUIElement(6)));
}

}  // namespace
}  // namespace tessaly
