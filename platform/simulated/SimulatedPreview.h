#pragma once

#include <optional>
#include <string>
#include <vector>

#include "values/CFValue.h"
#include "values/ProcessID.h"

namespace tessaly {

/// The elements of one Quick Look preview on the simulated desktop, for a test to act on and
/// inspect. The window holds a close button, the title texts and the player ("AXImage"); the
/// player holds `Setup::groupDepth` nested groups around its play button, timeline, speaker
/// button and volume slider, in that order.
struct SimulatedPreview {
    /// What a test opens: the previewed file and the player's state when it appears.
    struct Setup {
        std::optional<std::string> document = "file:///Users/tess/Movies/Harbour.mov";
        std::optional<std::string> title = "Harbour.mov";
        std::vector<std::string> titleTexts = {"Harbour.mov"};
        /// Seconds; the timeline's maximum.
        double duration = 93.5;
        /// The player's level, 0 to 1; a new player plays at full volume.
        double volume = 1.0;
        bool muted = false;
        /// False for a player that has not shown its controls yet.
        bool controlsExposed = true;
        /// Groups wrapped around the controls.
        int groupDepth = 2;
    };

    ProcessID host;
    AXUIElement window;
    AXUIElement player;
    AXUIElement playButton;
    AXUIElement timeline;
    AXUIElement speaker;
    AXUIElement volume;
    std::vector<AXUIElement> titleTexts;
};

}  // namespace tessaly
