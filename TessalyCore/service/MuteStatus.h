#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/Json.h"

namespace tessaly {

/// The mute guard's account of itself, as read back from Core Audio on a status request.
struct MuteStatus {
    std::string version;
    std::int32_t pid = 0;
    std::string bundleID;
    std::uint32_t tapID = 0;
    std::int64_t tapCount = 0;
    std::int64_t attachmentCount = 0;
    std::vector<std::uint32_t> processIDs;
    std::vector<std::int32_t> previewPIDs;
    std::int64_t activeProcessCount = 0;
    bool muted = false;
    bool privateTap = false;
    bool restoresProcesses = false;
    bool audioIOStarted = false;

    Json::Value toJson() const;
    /// Every member is required; a missing or mistyped one throws DecodingError.
    static MuteStatus fromJson(const Json::ObjectReader& reader);

    friend bool operator==(const MuteStatus&, const MuteStatus&) = default;
};

}  // namespace tessaly
