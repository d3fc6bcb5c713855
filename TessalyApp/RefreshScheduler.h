#pragma once

#include <functional>

namespace tessaly {

/// The delay of the setup window's refresh loop. The window waits through this so that tests can
/// run the two-second loop on virtual time.
class RefreshScheduler {
public:
    virtual ~RefreshScheduler() = default;

    /// Runs `task` once on the GUI thread `seconds` from now, replacing any task still waiting.
    virtual void schedule(double seconds, std::function<void()> task) = 0;
    /// Drops the waiting task, if any; it never runs.
    virtual void cancel() = 0;
};

}  // namespace tessaly
