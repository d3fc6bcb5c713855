#include "preview/PreviewControlRule.h"

#include "foundation/TessalyError.h"

namespace tessaly {

namespace {

// The depth-first walk with its shared element budget.
class GroupWalk {
public:
    explicit GroupWalk(const PreviewControlRule::GroupedChildren& groupedChildren)
        : groupedChildren_(groupedChildren) {}

    void visit(const std::vector<AXUIElement>& elements, int depth) {
        if (depth > PreviewControlRule::maximumDepth) {
            throw TessalyError("The preview's controls are too deeply nested; forced mute is suspended.");
        }
        for (const AXUIElement& element : elements) {
            if (budget_ < 1) {
                throw TessalyError("The preview exposes too many controls; forced mute is suspended.");
            }
            --budget_;
            if (auto children = groupedChildren_(element)) {
                visit(*children, depth + 1);
            } else {
                result_.push_back(element);
            }
        }
    }

    std::vector<AXUIElement> take() { return std::move(result_); }

private:
    const PreviewControlRule::GroupedChildren& groupedChildren_;
    int budget_ = PreviewControlRule::maximumElements;
    std::vector<AXUIElement> result_;
};

}  // namespace

std::vector<AXUIElement> PreviewControlRule::flattenGroups(const std::vector<AXUIElement>& elements,
                                                           const GroupedChildren& groupedChildren) {
    GroupWalk walk(groupedChildren);
    walk.visit(elements, 0);
    return walk.take();
}

std::vector<PreviewSlider> PreviewControlRule::collectSliders(const PreviewAX& ax,
                                                              const std::vector<AXUIElement>& controls) {
    std::vector<PreviewSlider> sliders;
    for (std::size_t index = 0; index < controls.size(); ++index) {
        const AXUIElement& control = controls[index];
        if (ax.string(control, "AXRole") != "AXSlider") continue;
        // Reading the bounds as numbers refuses a non-numeric or non-finite bound as an error.
        auto minimum = ax.number(control, "AXMinValue");
        if (!minimum) continue;
        auto maximum = ax.number(control, "AXMaxValue");
        if (!maximum) continue;
        const bool described = ax.string(control, "AXValueDescription").has_value();
        sliders.push_back({index, *minimum, *maximum, described});
    }
    return sliders;
}

std::optional<std::size_t> PreviewControlRule::volumeIndex(const std::vector<PreviewSlider>& sliders) {
    std::vector<const PreviewSlider*> candidates;
    for (const auto& slider : sliders) {
        if (slider.minimum == 0 && slider.maximum == 1) candidates.push_back(&slider);
    }
    if (candidates.size() == 1) return candidates.front()->index;
    std::vector<const PreviewSlider*> undescribed;
    for (const auto* candidate : candidates) {
        if (!candidate->hasValueDescription) undescribed.push_back(candidate);
    }
    if (undescribed.size() == 1) return undescribed.front()->index;
    return std::nullopt;
}

std::optional<PreviewControlRule::SliderSelection> PreviewControlRule::sliderSelection(
    const std::vector<PreviewSlider>& sliders) {
    if (sliders.empty()) return std::nullopt;
    if (sliders.size() == 1 && sliders.front().hasValueDescription) return std::nullopt;
    auto volume = volumeIndex(sliders);
    if (!volume) {
        throw TessalyError("The preview's audio controls are not recognized; forced mute is suspended.");
    }
    std::vector<const PreviewSlider*> timelines;
    for (const auto& slider : sliders) {
        if (slider.index != *volume && slider.minimum == 0 && slider.maximum > 0 &&
            slider.hasValueDescription) {
            timelines.push_back(&slider);
        }
    }
    if (timelines.size() != 1) {
        throw TessalyError("The preview's timeline is not recognized; forced mute is suspended.");
    }
    return SliderSelection{*volume, *timelines.front()};
}

}  // namespace tessaly
