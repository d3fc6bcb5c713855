#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Json.h"
#include "service/MuteStatus.h"
#include "service/PreviewHold.h"

namespace tessaly {

/// The helper's account of itself at one moment. Clients run validate() before they trust it:
/// a record that passes describes a healthy helper.
struct AudioStatus {
    /// The operating mode the helper always reports.
    static constexpr std::string_view rememberVolumeMode = "remember-volume";

    std::string version;
    std::int32_t pid = 0;
    std::string mode;
    bool accessibilityTrusted = false;
    double volume = 0;
    double unmutedVolume = 1;
    bool muted = true;
    std::int64_t previewCount = 0;
    std::int64_t pendingControlCount = 0;
    std::int64_t restorationCount = 0;
    std::int64_t userChangeCount = 0;
    bool pendingPreferenceWrite = false;
    std::optional<MuteStatus> muteGuard;
    std::optional<std::string> error;
    /// Why the guard silences Quick Look at an audible choice, while it does.
    std::optional<PreviewHoldStatus> previewHold;
    /// Something the user may notice that is no failure of the helper's.
    std::optional<std::string> notice;

    /// Absent optionals are left out, never written as null.
    Json::Value toJson() const;
    /// The twelve plain members are required; muteGuard, error, previewHold and notice may be
    /// absent or null.
    static AudioStatus fromJson(const Json::ObjectReader& reader);

    /// The text form: "Quick Look audio memory is ON. Muted. Native previews: 0." and, while
    /// containers wait for controls, a second line counting them. Each line ends with a newline.
    std::string summary() const;

    /// Throws TessalyError with the first reason this record does not describe a healthy helper.
    void validate() const;

    friend bool operator==(const AudioStatus&, const AudioStatus&) = default;
};

}  // namespace tessaly
