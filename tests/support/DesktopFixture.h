#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "preference/AudioPreference.h"
#include "preview/PreviewController.h"
#include "simulated/SimulatedDesktop.h"
#include "simulated/SimulatedWorkspace.h"
#include "support/CapturingLog.h"
#include "support/ErrorMessage.h"
#include "support/VirtualRunLoop.h"

namespace tessaly::testing {

/// A desktop with Finder running and nothing open, on virtual time.
class DesktopFixture : public ::testing::Test {
protected:
    static constexpr ProcessID finder = 412;

    DesktopFixture() { desktop.launchApplication("com.apple.finder", finder); }

    /// Opens a Quick Look preview in Finder.
    SimulatedPreview openPreview(const SimulatedPreview::Setup& setup = {}) {
        return desktop.openPreview(finder, setup);
    }

    VirtualRunLoop runLoop;
    CapturingLog log;
    SimulatedDesktop desktop{runLoop};
    SimulatedWorkspace workspace{desktop};
};

/// A preview controller on the desktop, driven as its owner drives it: each pass runs with the
/// remembered choice, and a choice the controller reports becomes the remembered one.
class PreviewControllerFixture : public DesktopFixture {
protected:
    /// One pass with the remembered choice.
    void pass() { controller.synchronize(preference); }
    /// Turns the run loop and hands over the notifications that reached the controller since last asked.
    std::vector<std::string> deliveredNotifications() {
        runLoop.runUntilIdle();
        return std::exchange(notifications, {});
    }

    AudioPreference preference = AudioPreference::make(0.5, 0.5);
    std::vector<AudioPreference> reportedChoices;
    std::vector<std::string> notifications;
    PreviewController controller{desktop,
                                 workspace,
                                 runLoop,
                                 log,
                                 [this](const AudioPreference& choice) {
                                     reportedChoices.push_back(choice);
                                     preference = choice;
                                 },
                                 [this](const std::string& name) { notifications.push_back(name); }};
};

/// Matches an AudioPreference by its two levels.
MATCHER_P2(IsChoice, volume, unmutedVolume, "") {
    *result_listener << "is (" << arg.volume() << ", " << arg.unmutedVolume() << ")";
    return arg.volume() == volume && arg.unmutedVolume() == unmutedVolume;
}

}  // namespace tessaly::testing
