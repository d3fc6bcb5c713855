#pragma once

#include <optional>
#include <string>

#include "foundation/Json.h"
#include "service/AudioStatus.h"

namespace tessaly {

/// The setup application's one-shot picture of the installation, with the first problem found.
struct SetupSnapshot {
    std::string version;
    bool installed = false;
    bool accessibilityTrusted = false;
    std::string registration;
    bool legacyInstallation = false;
    std::optional<double> volume;
    std::optional<AudioStatus> helper;
    std::optional<std::string> error;

    /// Absent optionals are left out, never written as null.
    Json::Value toJson() const;
    /// The five plain members are required; the optionals may be absent or null.
    static SetupSnapshot fromJson(const Json::ObjectReader& reader);

    friend bool operator==(const SetupSnapshot&, const SetupSnapshot&) = default;
};

}  // namespace tessaly
