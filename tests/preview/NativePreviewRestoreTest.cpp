#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "preview/NativePreview.h"
#include "preview/PreviewDiscovery.h"
#include "support/DesktopFixture.h"

namespace tessaly {
namespace {

using ::testing::ElementsAre;
using testing::messageOf;

class NativePreviewRestore : public testing::DesktopFixture {
protected:
    SimulatedPreview shown = openPreview();
    NativePreview preview = NativePreview::scan(desktop, finder).previews.at(0);

    std::string restoreError(double volume, double unmutedVolume) {
        return messageOf([&] { preview.restore(desktop, AudioPreference::make(volume, unmutedVolume)); });
    }
};

TEST_F(NativePreviewRestore,
       SetsAnAudibleLevelWithoutTouchingTheSpeakerAndAcceptsAReadBackWithinTheTolerance) {
    EXPECT_EQ(preview.restore(desktop, AudioPreference::make(0.6, 0.6)).volume, 0.6);
    EXPECT_THAT(desktop.writes(), ElementsAre(SimulatedWrite::setValue(shown.volume, 0.6)));
    EXPECT_EQ(desktop.outputLevel(shown), 0.6);
    // A read-back within the tolerance is accepted.
    desktop.overrideAttribute(shown.volume, "AXValue", 0.6000004);
    EXPECT_EQ(preview.restore(desktop, AudioPreference::make(0.6, 0.6)).volume, 0.6000004);
}

TEST_F(NativePreviewRestore, MutesFromTheAudibleLevelWithOnePressAfterTheSliderAndOnlyOnce) {
    EXPECT_EQ(preview.restore(desktop, AudioPreference::make(0, 0.6)).volume, 0.0);
    EXPECT_THAT(desktop.writes(), ElementsAre(SimulatedWrite::setValue(shown.volume, 0.6),
                                              SimulatedWrite::press(shown.speaker)));
    EXPECT_TRUE(desktop.isMuted(shown));
    EXPECT_EQ(desktop.outputLevel(shown), 0.0);
    EXPECT_EQ(desktop.playerLevel(shown), 0.6);

    // Once muted, it stays muted: no second press unmutes it.
    EXPECT_EQ(preview.restore(desktop, AudioPreference::make(0, 0.6)).volume, 0.0);
    EXPECT_TRUE(desktop.isMuted(shown));
    EXPECT_EQ(desktop.playerLevel(shown), 0.6);
}

TEST_F(NativePreviewRestore, ReportsAFailedPressAndRefusesASettingThatDoesNotReadBack) {
    // A failed press is reported, and the slider stays set.
    desktop.failCall(SimulatedDesktop::Call::performAction, kAXErrorCannotComplete);
    EXPECT_EQ(restoreError(0, 0.6), "Muting the native preview failed (Accessibility status -25204).");
    EXPECT_EQ(desktop.outputLevel(shown), 0.6);

    desktop.failCall(SimulatedDesktop::Call::performAction, kAXErrorSuccess);
    desktop.overrideAttribute(shown.volume, "AXValue", 0.0);
    EXPECT_EQ(restoreError(0.6, 0.6), "The native preview did not retain its restored audio setting.");
    // A mute must read back as exactly zero.
    desktop.overrideAttribute(shown.volume, "AXValue", 1e-9);
    EXPECT_EQ(restoreError(0, 0.6), "The native preview did not retain its restored audio setting.");
}

TEST_F(NativePreviewRestore, ReadsZeroWhileMutedAndRefusesAMissingOrOutOfRangeLevel) {
    desktop.userPressesSpeaker(shown);
    EXPECT_EQ(preview.readVolume(desktop), 0.0);
    desktop.userPressesSpeaker(shown);
    EXPECT_EQ(preview.readVolume(desktop), 1.0);

    desktop.overrideAttribute(shown.volume, "AXValue", 1.2);
    EXPECT_EQ(messageOf([&] { preview.readVolume(desktop); }),
              "Quick Look volume must be a finite number from zero to one.");
    EXPECT_EQ(restoreError(0.6, 0.6), "Quick Look volume must be a finite number from zero to one.");
    desktop.failAttribute(shown.volume, "AXValue", kAXErrorNoValue);
    EXPECT_EQ(messageOf([&] { preview.readVolume(desktop); }), "The native preview volume is unavailable.");
}

}  // namespace
}  // namespace tessaly
