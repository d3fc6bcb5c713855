#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/Json.h"
#include "preview/PreviewContainer.h"

namespace tessaly {

/// The hold as the status record reports it.
struct PreviewHoldStatus {
    /// Why the Quick Look UI service is silenced at an audible choice.
    std::string reason;
    /// How long the oldest reason has held it, in seconds.
    double seconds = 0;

    Json::Value toJson() const;
    static PreviewHoldStatus fromJson(const Json::ObjectReader& reader);

    friend bool operator==(const PreviewHoldStatus&, const PreviewHoldStatus&) = default;
};

/// Silence for previews that may play before the remembered audible level is in them. A new
/// preview starts at the player's own level (full volume); from the moment one may play unrestored
/// (its window announced, another file shown in a window, a player still hiding its controls)
/// until a pass has put the remembered level into it, the mute guard silences the Quick Look UI
/// service, and with it any other preview of that service for that moment. No reason holds for
/// longer than `limit`: a preview that cannot be restored by then plays as it would without us.
class PreviewHold {
public:
    /// The longest a preview is kept silent for want of its restoration, in seconds.
    static constexpr double limit = 5.0;

    /// A preview may play unrestored from `now` on (an announced window or document).
    void begin(double now, std::string reason);
    /// A pass succeeded at `now`: announced previews are restored, and `waiting` are the players
    /// still hiding their controls, each holding from when a pass first saw it.
    void passSucceeded(double now, const std::vector<PreviewContainer>& waiting);
    /// Forgets every reason, as a lasting failure or a mute choice does.
    void clear();

    /// Whether some reason holds at `now`.
    bool active(double now) const;
    /// The hold at `now`, while active.
    std::optional<PreviewHoldStatus> status(double now) const;
    /// Players whose controls stayed hidden beyond the limit and so play at their own level.
    std::size_t expiredCount(double now) const;

private:
    struct Waiting {
        PreviewContainer container;
        double since;
    };
    static bool holds(double since, double now) { return now - since < limit; }

    std::optional<double> announcedSince_;
    std::string announcedReason_;
    std::vector<Waiting> waiting_;
};

}  // namespace tessaly
