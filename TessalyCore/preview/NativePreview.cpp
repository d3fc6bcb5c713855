#include "preview/NativePreview.h"

#include "foundation/PreviewAccessibilityError.h"
#include "foundation/TessalyError.h"
#include "preview/PreviewAX.h"
#include "preview/PreviewControlRule.h"
#include "preview/PreviewDiscovery.h"
#include "preview/VolumeComparison.h"

namespace tessaly {

namespace {

const std::string speakerButtonUnavailable =
    "The native speaker button is unavailable; forced mute is suspended.";

// The speaker button is the control directly before the volume slider, under the same parent.
AXUIElement speakerButton(const PreviewAX& ax, const std::vector<AXUIElement>& controls,
                          std::size_t volumeIndex) {
    if (volumeIndex == 0) throw TessalyError(speakerButtonUnavailable);
    const AXUIElement& button = controls[volumeIndex - 1];
    if (ax.string(button, "AXRole") != "AXButton") throw TessalyError(speakerButtonUnavailable);
    auto sliderParent = ax.value(controls[volumeIndex], "AXParent");
    auto buttonParent = ax.value(button, "AXParent");
    if (!sliderParent || !buttonParent || !(*sliderParent == *buttonParent)) {
        throw TessalyError(speakerButtonUnavailable);
    }
    return button;
}

void requireSettableVolume(Accessibility& accessibility, const AXUIElement& slider) {
    bool settable = false;
    const AXError status = accessibility.isAttributeSettable(slider, "AXValue", settable);
    if (status != kAXErrorSuccess) {
        throw PreviewAccessibilityError("Checking the native preview volume control", status);
    }
    if (!settable) throw TessalyError("The native preview volume cannot be restored.");
}

std::vector<AXUIElement> titleElementsOf(const PreviewAX& ax, const AXUIElement& window) {
    std::vector<AXUIElement> titles;
    for (const AXUIElement& child : ax.elements(window, "AXChildren")) {
        if (ax.string(child, "AXRole") == "AXStaticText") titles.push_back(child);
    }
    return titles;
}

std::vector<std::string> titleValuesOf(const PreviewAX& ax, const std::vector<AXUIElement>& titleElements) {
    std::vector<std::string> values;
    for (const AXUIElement& element : titleElements) {
        auto value = ax.value(element, "AXValue");
        if (!value) continue;
        if (!value->text()) throw TessalyError("macOS returned a non-text value for AXValue.");
        values.push_back(*value->text());
    }
    return values;
}

// Scans one window's "AXImage" children into `discovery`.
void scanWindow(Accessibility& accessibility, ProcessID hostPID, const AXUIElement& window,
                PreviewDiscovery& discovery) {
    const PreviewAX ax(accessibility);
    for (const AXUIElement& child : ax.elements(window, "AXChildren")) {
        if (ax.string(child, "AXRole") != "AXImage") continue;
        if (auto preview = NativePreview::discover(accessibility, hostPID, window, child)) {
            discovery.previews.push_back(std::move(*preview));
        } else {
            discovery.waitingForControls.push_back({hostPID, window, child, ax.string(window, "AXDocument")});
        }
    }
}

}  // namespace

PreviewDiscovery NativePreview::scan(Accessibility& accessibility, ProcessID hostPID) {
    const PreviewAX ax(accessibility);
    const AXUIElement application = ax.applicationForScanning(hostPID);
    PreviewDiscovery discovery;
    for (const AXUIElement& window : ax.elements(application, "AXWindows")) {
        try {
            scanWindow(accessibility, hostPID, window, discovery);
        } catch (const PreviewAccessibilityError& error) {
            // A window that closes while it is read leaves what it contributed so far.
            if (error.code() != kAXErrorInvalidUIElement) throw;
        }
    }
    return discovery;
}

std::optional<NativePreview> NativePreview::discover(Accessibility& accessibility, ProcessID hostPID,
                                                     const AXUIElement& window, const AXUIElement& player) {
    const PreviewAX ax(accessibility);
    auto groupedChildren = [&ax](const AXUIElement& element) -> std::optional<std::vector<AXUIElement>> {
        if (ax.string(element, "AXRole") != "AXGroup") return std::nullopt;
        return ax.elements(element, "AXChildren");
    };
    const auto controls =
        PreviewControlRule::flattenGroups(ax.elements(player, "AXChildren"), groupedChildren);
    const auto selection =
        PreviewControlRule::sliderSelection(PreviewControlRule::collectSliders(ax, controls));
    if (!selection) return std::nullopt;

    const AXUIElement& volume = controls[selection->volumeIndex];
    const AXUIElement mute = speakerButton(ax, controls, selection->volumeIndex);
    requireSettableVolume(accessibility, volume);
    auto titleElements = titleElementsOf(ax, window);
    auto document = ax.string(window, "AXDocument");
    auto title = ax.string(window, "AXTitle");
    auto titleValues = titleValuesOf(ax, titleElements);
    return NativePreview{hostPID,
                         window,
                         player,
                         volume,
                         mute,
                         controls[selection->timeline.index],
                         selection->timeline.maximum,
                         std::move(titleElements),
                         std::move(document),
                         std::move(title),
                         std::move(titleValues)};
}

double NativePreview::readVolume(Accessibility& accessibility) const {
    auto level = PreviewAX(accessibility).number(volume, "AXValue");
    if (!level) throw TessalyError("The native preview volume is unavailable.");
    if (*level < 0 || *level > 1)
        throw TessalyError("Quick Look volume must be a finite number from zero to one.");
    return *level;
}

NativePreview::Restoration NativePreview::restore(Accessibility& accessibility,
                                                  const AudioPreference& preference) const {
    const PreviewAX ax(accessibility);
    const double before = readVolume(accessibility);
    // Setting an audible level unmutes the player, so the press that follows always mutes.
    const double written = preference.isMuted() ? preference.unmutedVolume() : preference.volume();
    ax.setVolume(volume, written);
    if (preference.isMuted()) {
        const AXError status = accessibility.performAction(mute, "AXPress");
        if (status != kAXErrorSuccess) throw PreviewAccessibilityError("Muting the native preview", status);
    }
    const double readBack = readVolume(accessibility);
    if (sameVolume(readBack, preference.volume())) return {readBack, false, false};
    // The arrow keys may have put another file, with a player of its own, in the window meanwhile.
    if (!stillShowsItsFile(accessibility)) return {readBack, false, true};
    if (sameVolume(readBack, before) || sameVolume(readBack, written)) {
        throw TessalyError("The native preview did not retain its restored audio setting.");
    }
    return {readBack, true, false};
}

bool NativePreview::stillShowsItsFile(Accessibility& accessibility) const {
    const PreviewAX ax(accessibility);
    return ax.string(window, "AXDocument") == document && ax.string(window, "AXTitle") == title;
}

bool NativePreview::isSamePreview(const NativePreview& other) const {
    return hostPID == other.hostPID && window == other.window && player == other.player &&
           volume == other.volume && duration == other.duration && document == other.document &&
           title == other.title && titleValues == other.titleValues;
}

}  // namespace tessaly
