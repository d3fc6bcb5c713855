#pragma once
// Stand-in for <dispatch/dispatch.h> on Linux: the declarations the Mac adapters use, with Apple's
// names and signatures; platform/mac/standin runs the main queue on a simulated run loop.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dispatch_queue_s* dispatch_queue_t;
typedef void (*dispatch_function_t)(void* context);

/// A function-like macro on a Mac; the same call here.
dispatch_queue_t dispatch_get_main_queue(void);
void dispatch_async_f(dispatch_queue_t queue, void* context, dispatch_function_t work);

#ifdef __cplusplus
}
#endif
