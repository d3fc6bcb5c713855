#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include <atomic>
#include <memory>
#include <thread>

#include "ports/RunLoop.h"

namespace tessaly {

/// The main run loop on Linux: one Asio io_context turned by the thread that calls run().
/// Posted tasks, delayed tasks, timers, signal sources and the message-port server all complete on
/// that thread, one at a time, so the code they call needs no locks.
///
/// Timers, signal sources and IO objects made on context() must be destroyed before the loop.
class AsioRunLoop : public RunLoop {
public:
    AsioRunLoop();
    ~AsioRunLoop() override;
    AsioRunLoop(const AsioRunLoop&) = delete;
    AsioRunLoop& operator=(const AsioRunLoop&) = delete;

    /// Safe from any thread; tasks run in the order they were posted.
    void post(Task task) override;
    /// A delay of zero or less is a plain post, so the task still runs after earlier posts.
    void postAfter(double seconds, Task task) override;
    /// A non-positive interval makes a one-shot timer rather than one that fires without pause. The
    /// leeway is ignored: the timer fires as close to its time as the loop can.
    std::unique_ptr<RunLoopTimer> makeTimer(double firstAfter, double interval, double leeway,
                                            Task handler) override;
    void ignoreSignal(int signalNumber) override;
    /// When the last source for a signal goes, the signal stays ignored if it was not at its default
    /// action before, so a late SIGTERM cannot kill the helper while it shuts down.
    std::unique_ptr<SignalSource> watchSignal(int signalNumber, Task handler) override;
    /// Serves until stop(); the calling thread becomes the loop's main thread. A stop() that came
    /// while the loop was not running is forgotten, as with CFRunLoopStop.
    void run() override;
    /// Safe from any thread; run() returns once the task in progress has finished.
    void stop() override;
    double now() const override;
    bool isMainThread() const override;

    /// The io_context behind the loop, for IO objects that must complete on the loop's thread.
    asio::io_context& context() { return context_; }

private:
    class Timer;
    class Signal;

    asio::io_context context_;
    // Keeps run() serving while nothing is scheduled, as a run loop waits for its sources.
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    std::atomic<std::thread::id> loopThread_;
};

}  // namespace tessaly
