#pragma once
// A system header, as Apple's framework headers are, so that clang takes its nullability
// qualifiers for no pedantic extension.
#pragma GCC system_header
// Stand-in for <dispatch/queue.h> on Linux: the main queue and the calls that put work on it.
// platform/mac/standin runs the main queue on a simulated run loop.

#include <dispatch/object.h>
#include <dispatch/time.h>

struct dispatch_queue_s : dispatch_object_s {};

DISPATCH_ASSUME_NONNULL_BEGIN

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dispatch_queue_s* dispatch_queue_t;

/// An inline function on a Mac returning dispatch_queue_main_t, a subtype of dispatch_queue_t; the
/// stand-in declares the same call returning dispatch_queue_t, all the adapters keep of it.
dispatch_queue_t dispatch_get_main_queue(void);
void dispatch_async_f(dispatch_queue_t queue, void* _Nullable context, dispatch_function_t work)
    API_AVAILABLE(macos(10.6));
void dispatch_after_f(dispatch_time_t when, dispatch_queue_t queue, void* _Nullable context,
                      dispatch_function_t work) API_AVAILABLE(macos(10.6));

#ifdef __cplusplus
}
#endif

DISPATCH_ASSUME_NONNULL_END
