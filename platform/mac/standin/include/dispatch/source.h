#pragma once
// A system header, as Apple's framework headers are, so that clang takes its nullability
// qualifiers for no pedantic extension.
#pragma GCC system_header
// Stand-in for <dispatch/source.h> on Linux: timer and signal sources, which platform/mac/standin
// runs on the simulated main run loop.

#include <dispatch/object.h>
#include <dispatch/queue.h>
#include <dispatch/time.h>

struct dispatch_source_s : dispatch_object_s {};

DISPATCH_ASSUME_NONNULL_BEGIN

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dispatch_source_s* dispatch_source_t;
typedef const struct dispatch_source_type_s* dispatch_source_type_t;

extern const struct dispatch_source_type_s _dispatch_source_type_timer;
extern const struct dispatch_source_type_s _dispatch_source_type_signal;
#define DISPATCH_SOURCE_TYPE_TIMER (&_dispatch_source_type_timer)
#define DISPATCH_SOURCE_TYPE_SIGNAL (&_dispatch_source_type_signal)

dispatch_source_t dispatch_source_create(dispatch_source_type_t type, uintptr_t handle, unsigned long mask,
                                         dispatch_queue_t _Nullable queue) API_AVAILABLE(macos(10.6));
void dispatch_source_set_event_handler_f(dispatch_source_t source, dispatch_function_t _Nullable handler)
    API_AVAILABLE(macos(10.6));
void dispatch_source_cancel(dispatch_source_t source) API_AVAILABLE(macos(10.6));
void dispatch_source_set_timer(dispatch_source_t source, dispatch_time_t start, uint64_t interval,
                               uint64_t leeway) API_AVAILABLE(macos(10.6));

#ifdef __cplusplus
}
#endif

DISPATCH_ASSUME_NONNULL_END
