#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ports/Accessibility.h"
#include "preference/AudioPreference.h"
#include "values/CFValue.h"
#include "values/ProcessID.h"

namespace tessaly {

struct PreviewDiscovery;

/// One recognised Quick Look audio or video preview: the elements of its window, player and
/// controls, and the facts that tell one previewed document from the next in the same window.
/// The player's own controls hold the state; while the player is muted its volume slider reads 0.
struct NativePreview {
    /// The process that owns the window.
    ProcessID hostPID;
    /// The preview window.
    AXUIElement window;
    /// The window's "AXImage" child that holds the controls.
    AXUIElement player;
    /// The volume slider; its "AXValue" is the volume from 0 to 1.
    AXUIElement volume;
    /// The speaker button that toggles mute when pressed.
    AXUIElement mute;
    /// The timeline slider.
    AXUIElement timeline;
    /// The timeline's maximum.
    double duration = 0;
    /// The window's direct "AXStaticText" children, held to observe changes of their values.
    std::vector<AXUIElement> titleElements;
    /// The window's "AXDocument".
    std::optional<std::string> document;
    /// The window's "AXTitle".
    std::optional<std::string> title;
    /// The text values of titleElements that have one, in order.
    std::vector<std::string> titleValues;

    /// Recognises every preview in the windows of one host process.
    static PreviewDiscovery scan(Accessibility& accessibility, ProcessID hostPID);
    /// Recognises one player; nothing means that it has not exposed its controls yet.
    static std::optional<NativePreview> discover(Accessibility& accessibility, ProcessID hostPID,
                                                 const AXUIElement& window, const AXUIElement& player);

    /// Whether the window still shows the file it showed when the preview was recognised.
    bool stillShowsItsFile(Accessibility& accessibility) const;
    /// The volume the player shows now, from 0 to 1.
    double readVolume(Accessibility& accessibility) const;
    /// What a restoration left in the player.
    struct Restoration {
        /// The volume read back.
        double volume = 0;
        /// The read-back shows neither what was put in nor what the player had before: the user
        /// moved the slider or pressed the speaker while the choice was being put in.
        bool userChanged = false;
        /// The window shows another file by the read-back: its player is a new preview.
        bool replaced = false;
    };
    /// Puts `preference` into the player and reads it back. A mute is restored as the audible
    /// level followed by one press of the speaker button, so that the player mutes from that level
    /// and unmuting returns to it. A read-back that still shows the player's level from before, or
    /// the level written without the press, means the player did not take the setting (thrown).
    Restoration restore(Accessibility& accessibility, const AudioPreference& preference) const;

    /// Whether `other` shows the same document in the same controls (mute, timeline and title
    /// elements aside); any difference makes it a new preview.
    bool isSamePreview(const NativePreview& other) const;
};

}  // namespace tessaly
