#pragma once
// Port: the main run loop and the main dispatch queue. Plain C++; implementations live in
// platform/posix (Asio) and tests/support (virtual time).

#include <functional>
#include <memory>

namespace tessaly {

/// A repeating timer on the main run loop (a dispatch timer source). Destroying it cancels it.
class RunLoopTimer {
public:
    virtual ~RunLoopTimer() = default;
    /// Next firing `firstAfter` seconds from now, then every `interval` seconds; each firing may
    /// come up to `leeway` seconds late (dispatch_source_set_timer).
    virtual void reschedule(double firstAfter, double interval, double leeway) = 0;
    /// Stops the timer for good; its handler is never called again.
    virtual void cancel() = 0;
};

/// A signal source on the main queue (a dispatch signal source). Destroying it cancels it.
class SignalSource {
public:
    virtual ~SignalSource() = default;
    /// Stops watching; the handler is never called again.
    virtual void cancel() = 0;
};

class RunLoop {
public:
    using Task = std::function<void()>;

    virtual ~RunLoop() = default;

    /// dispatch_async to the main queue: runs `task` after everything already posted.
    virtual void post(Task task) = 0;
    /// dispatch_after on the main queue: runs `task` `seconds` from now.
    virtual void postAfter(double seconds, Task task) = 0;
    /// A repeating timer, first firing `firstAfter` seconds from now, then every `interval`, each
    /// firing up to `leeway` seconds late. The leeway lets the system group wake-ups; a loop may
    /// keep closer time than asked (the Linux loop ignores it).
    virtual std::unique_ptr<RunLoopTimer> makeTimer(double firstAfter, double interval, double leeway,
                                                    Task handler) = 0;
    /// signal(signalNumber, SIG_IGN): the signal no longer ends the process by its default action.
    virtual void ignoreSignal(int signalNumber) = 0;
    /// Delivers `signalNumber` to `handler` on the main thread. The caller ignores the signal first
    /// (ignoreSignal), as with a dispatch signal source: a source does not change the disposition.
    virtual std::unique_ptr<SignalSource> watchSignal(int signalNumber, Task handler) = 0;

    /// CFRunLoopRun: serves until stop() is called.
    virtual void run() = 0;
    /// CFRunLoopStop: makes run() return once the current task has finished.
    virtual void stop() = 0;

    /// Seconds on a monotonic clock (what "now" means for every delay above).
    virtual double now() const = 0;
    /// Whether the caller is on the thread that runs this loop.
    virtual bool isMainThread() const = 0;
};

}  // namespace tessaly
