// The main dispatch queue on Linux: work goes to the routed run loop.

#include <dispatch/dispatch.h>

#include <stdexcept>

#include "mac/standin/StandinRoutes.h"
#include "ports/RunLoop.h"

struct dispatch_queue_s {};

namespace {
dispatch_queue_s mainQueue;
}  // namespace

extern "C" {

dispatch_queue_t dispatch_get_main_queue(void) {
    return &mainQueue;
}

void dispatch_async_f(dispatch_queue_t queue, void* context, dispatch_function_t work) {
    tessaly::RunLoop* runLoop = tessaly::MacStandin::routedMainQueue();
    if (queue != &mainQueue || runLoop == nullptr) throw std::logic_error("stand-in: no main queue");
    runLoop->post([context, work] { work(context); });
}
}
