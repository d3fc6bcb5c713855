#include "mac/MacRunLoop.h"

#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>

namespace tessaly {

namespace {

std::int64_t nanoseconds(double seconds) {
    return std::llround(std::max(seconds, 0.0) * static_cast<double>(NSEC_PER_SEC));
}

// A task handed to dispatch as its context; it runs once and is freed.
void runOnce(void* context) {
    std::unique_ptr<RunLoop::Task> task(static_cast<RunLoop::Task*>(context));
    (*task)();
}

// A dispatch source on the main queue whose handler is a task it owns. The source is cancelled
// before the task is freed, and both happen on the main thread, so no call can come after.
class DispatchSource {
public:
    DispatchSource(dispatch_source_type_t type, uintptr_t handle, RunLoop::Task handler)
        : handler_(std::move(handler)),
          source_(dispatch_source_create(type, handle, 0, dispatch_get_main_queue())) {
        dispatch_set_context(source_, &handler_);
        dispatch_source_set_event_handler_f(source_,
                                            [](void* context) { (*static_cast<RunLoop::Task*>(context))(); });
    }
    ~DispatchSource() {
        cancel();
        dispatch_release(source_);
    }
    DispatchSource(const DispatchSource&) = delete;
    DispatchSource& operator=(const DispatchSource&) = delete;

    dispatch_source_t get() const { return source_; }
    void resume() { dispatch_resume(source_); }
    void cancel() {
        if (cancelled_) return;
        cancelled_ = true;
        dispatch_source_cancel(source_);
    }

private:
    RunLoop::Task handler_;
    dispatch_source_t source_;
    bool cancelled_ = false;
};

class MacTimer : public RunLoopTimer {
public:
    MacTimer(double firstAfter, double interval, double leeway, RunLoop::Task handler)
        : source_(DISPATCH_SOURCE_TYPE_TIMER, 0, std::move(handler)) {
        reschedule(firstAfter, interval, leeway);
        source_.resume();
    }
    void reschedule(double firstAfter, double interval, double leeway) override {
        dispatch_source_set_timer(source_.get(), dispatch_time(DISPATCH_TIME_NOW, nanoseconds(firstAfter)),
                                  static_cast<std::uint64_t>(nanoseconds(interval)),
                                  static_cast<std::uint64_t>(nanoseconds(leeway)));
    }
    void cancel() override { source_.cancel(); }

private:
    DispatchSource source_;
};

class MacSignalSource : public SignalSource {
public:
    MacSignalSource(int signalNumber, RunLoop::Task handler)
        : source_(DISPATCH_SOURCE_TYPE_SIGNAL, static_cast<uintptr_t>(signalNumber), std::move(handler)) {
        source_.resume();
    }
    void cancel() override { source_.cancel(); }

private:
    DispatchSource source_;
};

}  // namespace

void MacRunLoop::post(Task task) {
    dispatch_async_f(dispatch_get_main_queue(), new Task(std::move(task)), runOnce);
}

void MacRunLoop::postAfter(double seconds, Task task) {
    dispatch_after_f(dispatch_time(DISPATCH_TIME_NOW, nanoseconds(seconds)), dispatch_get_main_queue(),
                     new Task(std::move(task)), runOnce);
}

std::unique_ptr<RunLoopTimer> MacRunLoop::makeTimer(double firstAfter, double interval, double leeway,
                                                    Task handler) {
    return std::make_unique<MacTimer>(firstAfter, interval, leeway, std::move(handler));
}

void MacRunLoop::ignoreSignal(int signalNumber) {
    ::signal(signalNumber, SIG_IGN);
}

std::unique_ptr<SignalSource> MacRunLoop::watchSignal(int signalNumber, Task handler) {
    return std::make_unique<MacSignalSource>(signalNumber, std::move(handler));
}

void MacRunLoop::run() {
    CFRunLoopRun();
}

void MacRunLoop::stop() {
    CFRunLoopStop(CFRunLoopGetMain());
}

double MacRunLoop::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool MacRunLoop::isMainThread() const {
    return CFRunLoopGetCurrent() == CFRunLoopGetMain();
}

}  // namespace tessaly
