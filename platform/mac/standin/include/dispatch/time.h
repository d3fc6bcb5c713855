#pragma once
// Stand-in for <dispatch/time.h> on Linux: dispatch times, which the stand-in counts from its
// simulated run loop's clock.

#include <dispatch/base.h>

#define NSEC_PER_SEC 1000000000ull

DISPATCH_ASSUME_NONNULL_BEGIN

#ifdef __cplusplus
extern "C" {
#endif

typedef uint64_t dispatch_time_t;

#define DISPATCH_TIME_NOW (0ull)

dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta) API_AVAILABLE(macos(10.6));

#ifdef __cplusplus
}
#endif

DISPATCH_ASSUME_NONNULL_END
