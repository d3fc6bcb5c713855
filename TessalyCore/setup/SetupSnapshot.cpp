#include "setup/SetupSnapshot.h"

namespace tessaly {

Json::Value SetupSnapshot::toJson() const {
    Json::Value value{
        {"version", version},
        {"installed", installed},
        {"accessibilityTrusted", accessibilityTrusted},
        {"registration", registration},
        {"legacyInstallation", legacyInstallation},
    };
    if (volume) value["volume"] = *volume;
    if (helper) value["helper"] = helper->toJson();
    if (error) value["error"] = *error;
    return value;
}

SetupSnapshot SetupSnapshot::fromJson(const Json::ObjectReader& reader) {
    SetupSnapshot snapshot;
    snapshot.version = reader.text("version");
    snapshot.installed = reader.boolean("installed");
    snapshot.accessibilityTrusted = reader.boolean("accessibilityTrusted");
    snapshot.registration = reader.text("registration");
    snapshot.legacyInstallation = reader.boolean("legacyInstallation");
    snapshot.volume = reader.optionalNumber("volume");
    if (auto helper = reader.optionalObject("helper")) snapshot.helper = AudioStatus::fromJson(*helper);
    snapshot.error = reader.optionalText("error");
    return snapshot;
}

}  // namespace tessaly
