#pragma once

#include <string>

#include "foundation/Json.h"

namespace tessaly {

/// The remembered choice for Quick Look previews. It has exactly two shapes: muted (volume 0,
/// unmutedVolume the level to come back to) and audible (volume equal to unmutedVolume).
class AudioPreference {
public:
    /// Validates and builds the record; throws TessalyError when the pair breaks a rule.
    static AudioPreference make(double volume, double unmutedVolume);
    /// Muted, coming back at full volume: the choice before the user made one.
    static AudioPreference defaultPreference() { return make(0, 1); }

    /// The volume previews play at; 0 means muted.
    double volume() const { return volume_; }
    /// The audible level that unmuting returns to.
    double unmutedVolume() const { return unmutedVolume_; }
    bool isMuted() const { return volume_ == 0; }

    /// The saved form: {"schemaVersion": 1, "unmutedVolume": …, "volume": …}.
    Json::Value toJson() const;
    /// Reads the saved form; an unsupported schema, a missing member or a broken rule throws.
    static AudioPreference fromJson(const Json::Value& value);

    friend bool operator==(const AudioPreference&, const AudioPreference&) = default;

private:
    AudioPreference(double volume, double unmutedVolume) : volume_(volume), unmutedVolume_(unmutedVolume) {}

    double volume_;
    double unmutedVolume_;
};

}  // namespace tessaly
