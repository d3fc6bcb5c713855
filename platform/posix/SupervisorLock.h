#pragma once

#include <string>
#include <vector>

#include "values/ProcessID.h"

namespace tessaly {

/// The lock file a supervisor keeps open, and so locked, for as long as it lives. It is how the
/// login-item and launch-agent stand-ins find their supervisors without trusting anything written
/// down: a record can be stale (from before a reboot), damaged or forged, but only a supervisor of
/// ours has this file open. Processes are signalled through a pidfd taken before the check, so a
/// process number given out again between the check and the signal is never hit.
class SupervisorLock {
public:
    explicit SupervisorLock(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    /// The processes of this user that have the lock file open: its supervisors.
    std::vector<ProcessID> holders() const;
    /// The live processes those supervisors run now, their children: what launchd reports as a
    /// job's pid. Only reported, never signalled: a number read here may be given out again.
    std::vector<ProcessID> programs() const;
    /// Sends SIGTERM to every supervisor and waits until they have ended; what is still alive
    /// after `stopTimeout` plus a grace gets SIGKILL (its program dies with it). Returns false when
    /// a supervisor outlived that too.
    bool stopHolders(double stopTimeout) const;

private:
    std::string path_;
};

}  // namespace tessaly
