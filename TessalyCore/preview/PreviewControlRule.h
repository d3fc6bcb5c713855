#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "preview/PreviewAX.h"
#include "preview/PreviewSlider.h"
#include "values/CFValue.h"

namespace tessaly {

/// The structural rules that pick a player's volume slider and timeline out of its controls.
/// Every count must come out at exactly one; anything else is either "still waiting" or a
/// refusal that suspends forced mute.
class PreviewControlRule {
public:
    /// Answers an element's children when it is a group, nothing otherwise.
    using GroupedChildren = std::function<std::optional<std::vector<AXUIElement>>(const AXUIElement&)>;

    /// The chosen volume slider (by index) and timeline.
    struct SliderSelection {
        std::size_t volumeIndex;
        PreviewSlider timeline;
    };

    /// Deepest group level whose elements are still walked.
    static constexpr int maximumDepth = 8;
    /// Most elements, groups included, visited for one player.
    static constexpr int maximumElements = 128;

    /// The controls in depth-first order with their groups dissolved, within the depth and
    /// element limits; a hostile or broken tree cannot make the walk unbounded.
    static std::vector<AXUIElement> flattenGroups(const std::vector<AXUIElement>& elements,
                                                  const GroupedChildren& groupedChildren);
    /// The sliders among flattened controls, with their bounds; sliders without bounds are skipped.
    static std::vector<PreviewSlider> collectSliders(const PreviewAX& ax,
                                                     const std::vector<AXUIElement>& controls);
    /// The one slider from exactly 0 to exactly 1, preferring the one without a value description.
    static std::optional<std::size_t> volumeIndex(const std::vector<PreviewSlider>& sliders);
    /// Volume and timeline, or nothing while the player has not exposed its audio controls yet.
    static std::optional<SliderSelection> sliderSelection(const std::vector<PreviewSlider>& sliders);
};

}  // namespace tessaly
