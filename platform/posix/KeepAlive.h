#pragma once

#include <cstdint>

#include "values/CFValue.h"

namespace tessaly {

/// What an agent definition's KeepAlive key asks of launchd once its program has ended.
///
/// The decisions are plain arithmetic on wait statuses and nanoseconds, so that the supervisor, a
/// forked child that may only make async-signal-safe calls, can use them as they are.
enum class KeepAlive : int {
    /// No KeepAlive, or false: the program is not started again.
    never,
    /// true: started again after every end.
    always,
    /// {SuccessfulExit: false}: started again after an unsuccessful end (an exit status other than
    /// zero, or death by a signal).
    afterUnsuccessfulEnd,
    /// {SuccessfulExit: true}: started again only after an exit with status zero.
    afterSuccessfulExit,
};

/// launchd's default throttle: a program is started at most once every ten seconds.
inline constexpr double keepAliveThrottleSeconds = 10;

/// The KeepAlive of an agent definition's value for that key (absent: nullptr). A dictionary
/// without SuccessfulExit, or with keys launchd reads but the stand-in does not model, counts as
/// always, as launchd keeps such a job alive too.
KeepAlive keepAliveOf(const CFValue* value);

/// Whether a program that ended with wait status `waitStatus` is started again.
bool restartsAfter(KeepAlive keepAlive, int waitStatus);

/// Nanoseconds to wait, at `now`, before a program last started at `lastStart` may start again.
inline std::int64_t restartDelay(std::int64_t lastStart, std::int64_t now, std::int64_t throttle) {
    const std::int64_t earliest = lastStart + throttle;
    return earliest > now ? earliest - now : 0;
}

}  // namespace tessaly
