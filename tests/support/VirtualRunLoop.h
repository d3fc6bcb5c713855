#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "ports/RunLoop.h"

namespace tessaly::testing {

/// A run loop on virtual time. Nothing happens until a test turns it: runUntilIdle() runs what
/// is due now, advance() moves the clock and runs everything that falls due on the way, in
/// order of due time and then of posting.
class VirtualRunLoop : public RunLoop {
public:
    VirtualRunLoop();

    void post(Task task) override;
    void postAfter(double seconds, Task task) override;
    /// Keeps exact time; the leeway is only recorded (timerLeeways()).
    std::unique_ptr<RunLoopTimer> makeTimer(double firstAfter, double interval, double leeway,
                                            Task handler) override;
    void ignoreSignal(int signalNumber) override { ignored_.insert(signalNumber); }
    std::unique_ptr<SignalSource> watchSignal(int signalNumber, Task handler) override;
    /// Runs tasks in time order, moving the clock, until stop() is called. Aborts the test when
    /// nothing is left to run, since a real loop would then wait forever.
    void run() override;
    void stop() override;
    double now() const override { return now_; }
    bool isMainThread() const override { return std::this_thread::get_id() == mainThread_; }

    /// Runs every task that is due now, including those that they post for now.
    void runUntilIdle();
    /// Moves the clock `seconds` forward, running each task at its due time.
    void advance(double seconds);
    /// Delivers a signal as the kernel would: to its sources, whose handlers run on the next turn,
    /// when it is ignored; otherwise its default action ends the process (see killedBy()).
    void raise(int signalNumber);
    /// The signal whose default action ended the process (run() then stops), if any.
    std::optional<int> killedBy() const { return killedBy_; }
    /// The leeway of every timer not yet cancelled, in the order they were made.
    std::vector<double> timerLeeways() const;

    /// How many tasks, timer firings included, are waiting.
    std::size_t pendingCount() const { return entries_.size(); }

private:
    struct Key {
        double due;
        std::uint64_t sequence;
        friend auto operator<=>(const Key&, const Key&) = default;
    };
    class Timer;
    class Signal;

    void schedule(double due, Task task);
    bool runNextDueBy(double limit);

    double now_ = 0;
    std::uint64_t nextSequence_ = 0;
    std::map<Key, Task> entries_;
    std::vector<std::pair<int, std::shared_ptr<Task>>> signals_;
    std::set<int> ignored_;
    std::optional<int> killedBy_;
    std::vector<std::weak_ptr<const double>> leeways_;
    bool stopRequested_ = false;
    std::thread::id mainThread_;
};

}  // namespace tessaly::testing
