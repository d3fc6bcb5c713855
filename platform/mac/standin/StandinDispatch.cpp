// The main dispatch queue on Linux: work, delayed work, timer and signal sources go to the routed
// run loop, whose clock is the one dispatch_time counts in (nanoseconds).

#include <dispatch/dispatch.h>

#include <cmath>
#include <memory>
#include <stdexcept>

#include "mac/standin/StandinRoutes.h"
#include "ports/RunLoop.h"

struct dispatch_source_type_s {};

const dispatch_source_type_s _dispatch_source_type_timer{};
const dispatch_source_type_s _dispatch_source_type_signal{};

namespace {

tessaly::RunLoop& mainRunLoop(dispatch_queue_t queue) {
    tessaly::RunLoop* runLoop = tessaly::MacStandin::routedMainQueue();
    if (queue != &_dispatch_main_q || runLoop == nullptr)
        throw std::logic_error("stand-in: only the main queue runs");
    return *runLoop;
}

double secondsFromNow(dispatch_time_t when) {
    if (when == DISPATCH_TIME_NOW) return 0;
    return static_cast<double>(when) / NSEC_PER_SEC - tessaly::MacStandin::routedMainQueue()->now();
}

}  // namespace

namespace {

// A source starts suspended; resuming it starts its timer or signal watch on the run loop.
struct Source : dispatch_source_s {
    dispatch_source_type_t type;
    int signalNumber;
    void* context = nullptr;
    dispatch_function_t handler = nullptr;
    double firstAfter = 0;
    double interval = 0;
    double leeway = 0;
    bool resumed = false;
    bool cancelled = false;
    long references = 1;
    std::unique_ptr<tessaly::RunLoopTimer> timer;
    std::unique_ptr<tessaly::SignalSource> signal;

    void fire() {
        if (!cancelled && handler != nullptr) handler(context);
    }
};

Source* sourceOf(dispatch_object_t object) {
    return static_cast<Source*>(static_cast<dispatch_source_s*>(object));
}

}  // namespace

extern "C" {

// The object dispatch_get_main_queue hands out, as on a Mac.
dispatch_queue_s _dispatch_main_q;

void dispatch_async_f(dispatch_queue_t queue, void* context, dispatch_function_t work) {
    mainRunLoop(queue).post([context, work] { work(context); });
}

dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta) {
    const double base = when == DISPATCH_TIME_NOW
                            ? tessaly::MacStandin::routedMainQueue()->now() * NSEC_PER_SEC
                            : static_cast<double>(when);
    return static_cast<dispatch_time_t>(std::llround(base + static_cast<double>(delta)));
}

void dispatch_after_f(dispatch_time_t when, dispatch_queue_t queue, void* context, dispatch_function_t work) {
    mainRunLoop(queue).postAfter(secondsFromNow(when), [context, work] { work(context); });
}

dispatch_source_t dispatch_source_create(dispatch_source_type_t type, uintptr_t handle, unsigned long,
                                         dispatch_queue_t queue) {
    mainRunLoop(queue);
    auto source = new Source();
    source->type = type;
    source->signalNumber = static_cast<int>(handle);
    return source;
}

void dispatch_source_set_timer(dispatch_source_t object, dispatch_time_t start, uint64_t interval,
                               uint64_t leeway) {
    Source* source = sourceOf(object);
    source->firstAfter = secondsFromNow(start);
    source->interval = static_cast<double>(interval) / NSEC_PER_SEC;
    source->leeway = static_cast<double>(leeway) / NSEC_PER_SEC;
    if (source->timer) source->timer->reschedule(source->firstAfter, source->interval, source->leeway);
}

void dispatch_source_set_event_handler_f(dispatch_source_t source, dispatch_function_t handler) {
    sourceOf(source)->handler = handler;
}

void dispatch_source_cancel(dispatch_source_t object) {
    Source* source = sourceOf(object);
    source->cancelled = true;
    if (source->timer) source->timer->cancel();
    if (source->signal) source->signal->cancel();
}

void dispatch_set_context(dispatch_object_t object, void* context) {
    sourceOf(object)->context = context;
}

void dispatch_resume(dispatch_object_t object) {
    Source* source = sourceOf(object);
    if (source->resumed || source->cancelled) return;
    source->resumed = true;
    tessaly::RunLoop& runLoop = *tessaly::MacStandin::routedMainQueue();
    if (source->type == DISPATCH_SOURCE_TYPE_TIMER) {
        source->timer = runLoop.makeTimer(source->firstAfter, source->interval, source->leeway,
                                          [source] { source->fire(); });
    } else {
        source->signal = runLoop.watchSignal(source->signalNumber, [source] { source->fire(); });
    }
}

void dispatch_release(dispatch_object_t object) {
    Source* source = sourceOf(object);
    if (--source->references == 0) delete source;
}
}
