#include "preference/AudioPreference.h"

#include <cmath>

#include "foundation/TessalyError.h"

namespace tessaly {

namespace {

constexpr int schemaVersion = 1;

bool isUnitValue(double value) {
    return std::isfinite(value) && value >= 0 && value <= 1;
}

}  // namespace

AudioPreference AudioPreference::make(double volume, double unmutedVolume) {
    if (!isUnitValue(volume) || !isUnitValue(unmutedVolume)) {
        throw TessalyError("Quick Look volume must be a finite number from zero to one.");
    }
    if (!(unmutedVolume > 0) || (volume != 0 && volume != unmutedVolume)) {
        throw TessalyError("The saved audible volume is inconsistent with the preview volume.");
    }
    // Negative zero is zero; keep the stored and written form canonical.
    return AudioPreference(volume == 0 ? 0.0 : volume, unmutedVolume);
}

Json::Value AudioPreference::toJson() const {
    return Json::Value{
        {"schemaVersion", schemaVersion}, {"volume", volume_}, {"unmutedVolume", unmutedVolume_}};
}

AudioPreference AudioPreference::fromJson(const Json::Value& value) {
    Json::ObjectReader reader(value);
    if (reader.integer<std::int64_t>("schemaVersion") != schemaVersion) {
        throw TessalyError("The saved audio preference uses an unsupported format.");
    }
    return make(reader.number("volume"), reader.number("unmutedVolume"));
}

}  // namespace tessaly
