#pragma once
// A system header, as Apple's framework headers are, so that clang takes its nullability
// qualifiers for no pedantic extension.
#pragma GCC system_header
// Stand-in for <dispatch/queue.h> on Linux: the main queue and the calls that put work on it.
// platform/mac/standin runs the main queue on a simulated run loop.

#include <dispatch/object.h>
#include <dispatch/time.h>

// The main queue's type derives from the serial queue's, which derives from the queue's, as
// DISPATCH_DECL_SUBCLASS makes them in C++.
struct dispatch_queue_s : dispatch_object_s {};
struct dispatch_queue_serial_s : dispatch_queue_s {};
struct dispatch_queue_main_s : dispatch_queue_serial_s {};

DISPATCH_ASSUME_NONNULL_BEGIN

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dispatch_queue_s* dispatch_queue_t;
typedef struct dispatch_queue_main_s* dispatch_queue_main_t;

// The main queue is one object, which the inline dispatch_get_main_queue returns (as on a Mac);
// platform/mac/standin defines it.
extern struct dispatch_queue_s _dispatch_main_q API_AVAILABLE(macos(10.6));

static inline dispatch_queue_main_t dispatch_get_main_queue(void) {
    return static_cast<dispatch_queue_main_t>(&_dispatch_main_q);
}

void dispatch_async_f(dispatch_queue_t queue, void* _Nullable context, dispatch_function_t work)
    API_AVAILABLE(macos(10.6));
void dispatch_after_f(dispatch_time_t when, dispatch_queue_t queue, void* _Nullable context,
                      dispatch_function_t work) API_AVAILABLE(macos(10.6));

#ifdef __cplusplus
}
#endif

DISPATCH_ASSUME_NONNULL_END
