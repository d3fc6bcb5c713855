#pragma once

#include <cstddef>

namespace tessaly {

/// The facts about one slider among a player's controls that decide what it is for.
struct PreviewSlider {
    /// Position in the player's flattened control list, from 0.
    std::size_t index = 0;
    /// "AXMinValue".
    double minimum = 0;
    /// "AXMaxValue".
    double maximum = 0;
    /// Whether "AXValueDescription" is present; players describe the timeline's position, not the volume.
    bool hasValueDescription = false;

    friend bool operator==(const PreviewSlider&, const PreviewSlider&) = default;
};

}  // namespace tessaly
