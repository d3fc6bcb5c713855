#pragma once

#include <functional>
#include <string>
#include <vector>

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

    /// Starts a supervisor that runs the program and starts it again each time it exits with
    /// status 1, never sooner than `restartInterval` seconds after its previous start. The
    /// supervisor ends when the program exits in any other way, or after SIGTERM, SIGINT or SIGHUP:
    /// then it passes SIGTERM on to the program, waits for it to end, and exits.
    ///
    /// `beforeStart` runs in the caller with the supervisor's pid while the supervisor waits; when
    /// it throws, the supervisor ends without starting anything and the exception passes on. Returns
    /// the supervisor's pid once the program's first start was executed; throws
    /// FileError("Launching", program, errno) when it could not be (the supervisor then ends).
    ProcessID supervise(double restartInterval, const std::function<void(ProcessID)>& beforeStart) const;

private:
    std::string program_;
    std::vector<std::string> arguments_;
};

}  // namespace tessaly
