#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "posix/KeepAlive.h"
#include "values/ProcessID.h"

namespace tessaly {

/// A program started outside the caller's process tree, the way launchd starts an agent: in a
/// session of its own without a controlling terminal, standard input, output and error on
/// /dev/null, working folder "/", default signal handling, an empty signal mask, no other open
/// descriptor, and the caller's environment.
///
/// Two forks with setsid between them: the started process is not the caller's child, so it
/// outlives the caller and never waits as a zombie for a caller that does not reap it.
///
/// The caller may have other threads (the setup application runs its operations on a worker
/// thread, next to Qt's), and a forked child of such a process may find any lock held by a thread
/// that does not exist in it. So after fork the children only make async-signal-safe system calls
/// on memory prepared before the fork: no allocation, no locks, no library code, no atfork
/// handlers (_Fork, not fork, below the first level).
class DetachedProcess {
public:
    /// `arguments` is the whole argument vector, its first element (the program's name) included.
    DetachedProcess(std::string program, std::vector<std::string> arguments);

    /// Starts the program and returns once it has been executed. Throws FileError("Launching",
    /// program, errno) when it cannot be.
    void launch() const;

    /// Starts the program and waits up to `timeout` seconds for it to end. Returns its wait status,
    /// or nothing when it still runs (it then goes on, detached). Throws FileError("Launching",
    /// program, errno) when it cannot be started.
    std::optional<int> run(double timeout) const;

    /// How a supervisor runs the program.
    struct Supervision {
        /// The lock the supervisor takes and keeps while it lives: only one supervisor per lock, and
        /// a process that has this file open is known to be a supervisor of ours.
        std::string lockPath;
        KeepAlive keepAlive = KeepAlive::afterUnsuccessfulEnd;
        /// Seconds from one start of the program to the earliest next one.
        double throttleInterval = keepAliveThrottleSeconds;
        /// Seconds the program has after SIGTERM before its process group gets SIGKILL.
        double stopTimeout = 5;
    };

    /// Starts a supervisor that runs the program in a process group of its own and starts it again
    /// after each end that `keepAlive` names, never sooner than the throttle interval after its
    /// previous start. Whatever the program leaves behind in its group is killed when it ends, and
    /// the program is killed when the supervisor dies, as launchd does with a job's processes.
    /// After SIGTERM, SIGINT or SIGHUP the supervisor passes SIGTERM on to the program, kills its
    /// group after the stop timeout, and exits once the program has ended.
    ///
    /// Returns nothing, starting nothing, when another supervisor holds the lock, or when
    /// `beforeStart` (run in the caller with the new supervisor's pid while it waits, lock held)
    /// answers false. When `beforeStart` throws, the supervisor ends and the exception passes on.
    /// Returns the supervisor's pid once the program's first start was executed; throws
    /// FileError("Launching", program, errno) when it could not be (the supervisor then ends).
    std::optional<ProcessID> supervise(const Supervision& supervision,
                                       const std::function<bool(ProcessID)>& beforeStart) const;

private:
    std::string program_;
    std::vector<std::string> arguments_;
};

}  // namespace tessaly
