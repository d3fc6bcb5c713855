#pragma once

#include <optional>

namespace tessaly {

/// A run of passes that failed because the system did for a moment (a window closing under the
/// pass, a call Finder did not answer in time). While it is short the guard stays as it was and the
/// tracked previews are kept; once it has lasted `limit` it counts as a lasting failure.
class MomentaryFailure {
public:
    /// How long passes may keep failing for a moment before the failure counts as lasting, in seconds.
    static constexpr double limit = 5.0;

    /// A pass failed for a moment at `now`; the run starts with its first failure.
    void record(double now) {
        if (!since_) since_ = now;
    }
    /// A pass succeeded, or failed for another reason.
    void clear() { since_.reset(); }

    /// Whether the last pass failed for a moment.
    bool active() const { return since_.has_value(); }
    /// Whether the run has lasted long enough to release the guard.
    bool lasting(double now) const { return since_ && now - *since_ >= limit; }

private:
    std::optional<double> since_;
};

}  // namespace tessaly
