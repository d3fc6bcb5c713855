#include "service/AudioStatus.h"

#include <cmath>

#include "audio/MuteRule.h"
#include "foundation/TessalyError.h"
#include "foundation/Version.h"
#include "preference/AudioPreference.h"

namespace tessaly {

namespace {

bool isHealthyMuteGuard(const MuteStatus& guard) {
    return guard.muted && guard.privateTap && guard.restoresProcesses &&
           guard.bundleID == MuteRule::targetBundleID && guard.tapCount >= 1 &&
           guard.attachmentCount == guard.tapCount && !guard.audioIOStarted;
}

}  // namespace

Json::Value AudioStatus::toJson() const {
    Json::Value value{
        {"version", version},
        {"pid", pid},
        {"mode", mode},
        {"accessibilityTrusted", accessibilityTrusted},
        {"volume", volume},
        {"unmutedVolume", unmutedVolume},
        {"muted", muted},
        {"previewCount", previewCount},
        {"pendingControlCount", pendingControlCount},
        {"restorationCount", restorationCount},
        {"userChangeCount", userChangeCount},
        {"pendingPreferenceWrite", pendingPreferenceWrite},
    };
    if (muteGuard) value["muteGuard"] = muteGuard->toJson();
    if (error) value["error"] = *error;
    if (previewHold) value["previewHold"] = previewHold->toJson();
    if (notice) value["notice"] = *notice;
    return value;
}

AudioStatus AudioStatus::fromJson(const Json::ObjectReader& reader) {
    AudioStatus status;
    status.version = reader.text("version");
    status.pid = reader.integer<std::int32_t>("pid");
    status.mode = reader.text("mode");
    status.accessibilityTrusted = reader.boolean("accessibilityTrusted");
    status.volume = reader.number("volume");
    status.unmutedVolume = reader.number("unmutedVolume");
    status.muted = reader.boolean("muted");
    status.previewCount = reader.integer<std::int64_t>("previewCount");
    status.pendingControlCount = reader.integer<std::int64_t>("pendingControlCount");
    status.restorationCount = reader.integer<std::int64_t>("restorationCount");
    status.userChangeCount = reader.integer<std::int64_t>("userChangeCount");
    status.pendingPreferenceWrite = reader.boolean("pendingPreferenceWrite");
    if (auto guard = reader.optionalObject("muteGuard")) status.muteGuard = MuteStatus::fromJson(*guard);
    status.error = reader.optionalText("error");
    if (auto hold = reader.optionalObject("previewHold"))
        status.previewHold = PreviewHoldStatus::fromJson(*hold);
    status.notice = reader.optionalText("notice");
    return status;
}

std::string AudioStatus::summary() const {
    const std::string audio =
        muted ? "Muted" : "Volume " + std::to_string(static_cast<long long>(std::round(volume * 100))) + "%";
    std::string text = "Quick Look audio memory is ON. " + audio +
                       ". Native previews: " + std::to_string(previewCount) + ".\n";
    if (pendingControlCount >= 1) {
        text +=
            "Preview containers waiting for native controls: " + std::to_string(pendingControlCount) + ".\n";
    }
    if (notice) text += *notice + "\n";
    return text;
}

void AudioStatus::validate() const {
    if (version != tessaly::version || mode != rememberVolumeMode) {
        throw TessalyError("The installed Tessaly helper needs to be updated or restarted.");
    }
    AudioPreference::make(volume, unmutedVolume);
    if (muted != (volume == 0) || previewCount < 0 || pendingControlCount < 0 || restorationCount < 0 ||
        userChangeCount < 0) {
        throw TessalyError("Tessaly returned an inconsistent audio state.");
    }
    if (!accessibilityTrusted) throw TessalyError("Open Tessaly and allow Accessibility to finish setup.");
    if (error) throw TessalyError(*error);
    if (muted && !(muteGuard && isHealthyMuteGuard(*muteGuard))) {
        throw TessalyError("The remembered mute is not protected by a healthy Quick Look-only guard.");
    }
    if (!muted && muteGuard && !previewHold) {
        throw TessalyError("An external mute guard is still active despite the chosen audible volume.");
    }
    if (previewHold && !(previewHold->seconds >= 0 && previewHold->seconds <= PreviewHold::limit)) {
        throw TessalyError("Quick Look has been silenced for a new preview for longer than it may be.");
    }
}

}  // namespace tessaly
