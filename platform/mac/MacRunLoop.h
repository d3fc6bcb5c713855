#pragma once

#include "ports/RunLoop.h"

namespace tessaly {

/// The main run loop and main dispatch queue: posts go to the main queue, delays through
/// dispatch_after, timers and signals are dispatch sources on the main queue, run and stop are
/// CFRunLoopRun and CFRunLoopStop. A timer's leeway goes to dispatch_source_set_timer.
class MacRunLoop : public RunLoop {
public:
    void post(Task task) override;
    void postAfter(double seconds, Task task) override;
    std::unique_ptr<RunLoopTimer> makeTimer(double firstAfter, double interval, double leeway,
                                            Task handler) override;
    void ignoreSignal(int signalNumber) override;
    std::unique_ptr<SignalSource> watchSignal(int signalNumber, Task handler) override;
    void run() override;
    void stop() override;
    double now() const override;
    bool isMainThread() const override;
};

}  // namespace tessaly
