#include "support/VirtualRunLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

namespace tessaly::testing {

namespace {
constexpr std::size_t runawayLimit = 1'000'000;
}

class VirtualRunLoop::Timer : public RunLoopTimer {
public:
    Timer(VirtualRunLoop& loop, Task handler) : loop_(loop), state_(std::make_shared<State>()) {
        state_->handler = std::move(handler);
        leeway_ = std::make_shared<double>(0);
        loop_.leeways_.push_back(leeway_);
    }
    ~Timer() override { cancel(); }

    void reschedule(double firstAfter, double interval, double leeway) override {
        if (state_->cancelled) return;
        state_->interval = interval;
        *leeway_ = leeway;
        arm(loop_, state_, ++state_->generation, loop_.now() + firstAfter);
    }
    void cancel() override {
        state_->cancelled = true;
        leeway_.reset();
    }

private:
    struct State {
        Task handler;
        double interval = 0;
        std::uint64_t generation = 0;
        bool cancelled = false;
    };

    // Each firing schedules the next one; a reschedule or cancel makes older firings inert.
    static void arm(VirtualRunLoop& loop, const std::shared_ptr<State>& state, std::uint64_t generation,
                    double due) {
        std::weak_ptr<State> weak = state;
        loop.schedule(due, [&loop, weak, generation, due] {
            auto live = weak.lock();
            if (!live || live->cancelled || live->generation != generation) return;
            arm(loop, live, generation, due + live->interval);
            auto handler = live->handler;
            handler();
        });
    }

    VirtualRunLoop& loop_;
    std::shared_ptr<State> state_;
    std::shared_ptr<double> leeway_;  // gone once cancelled, so the loop no longer lists it
};

class VirtualRunLoop::Signal : public SignalSource {
public:
    explicit Signal(std::shared_ptr<Task> handler) : handler_(std::move(handler)) {}
    ~Signal() override { cancel(); }
    void cancel() override { *handler_ = nullptr; }

private:
    std::shared_ptr<Task> handler_;
};

VirtualRunLoop::VirtualRunLoop() : mainThread_(std::this_thread::get_id()) {}

void VirtualRunLoop::schedule(double due, Task task) {
    entries_.emplace(Key{due, nextSequence_++}, std::move(task));
}

void VirtualRunLoop::post(Task task) {
    schedule(now_, std::move(task));
}

void VirtualRunLoop::postAfter(double seconds, Task task) {
    schedule(now_ + std::max(seconds, 0.0), std::move(task));
}

std::unique_ptr<RunLoopTimer> VirtualRunLoop::makeTimer(double firstAfter, double interval, double leeway,
                                                        Task handler) {
    auto timer = std::make_unique<Timer>(*this, std::move(handler));
    timer->reschedule(firstAfter, interval, leeway);
    return timer;
}

std::vector<double> VirtualRunLoop::timerLeeways() const {
    std::vector<double> result;
    for (const auto& weak : leeways_) {
        if (auto leeway = weak.lock()) result.push_back(*leeway);
    }
    return result;
}

std::unique_ptr<SignalSource> VirtualRunLoop::watchSignal(int signalNumber, Task handler) {
    auto shared = std::make_shared<Task>(std::move(handler));
    signals_.emplace_back(signalNumber, shared);
    return std::make_unique<Signal>(shared);
}

void VirtualRunLoop::raise(int signalNumber) {
    if (!ignored_.count(signalNumber)) {
        killedBy_ = signalNumber;
        stop();
        return;
    }
    for (auto& [number, handler] : signals_) {
        if (number != signalNumber) continue;
        std::weak_ptr<Task> weak = handler;
        post([weak] {
            auto live = weak.lock();
            if (live && *live) (*live)();
        });
    }
}

bool VirtualRunLoop::runNextDueBy(double limit) {
    if (entries_.empty() || entries_.begin()->first.due > limit) return false;
    auto node = entries_.extract(entries_.begin());
    now_ = std::max(now_, node.key().due);
    node.mapped()();
    return true;
}

void VirtualRunLoop::runUntilIdle() {
    std::size_t count = 0;
    while (runNextDueBy(now_)) {
        if (++count > runawayLimit)
            throw std::logic_error("VirtualRunLoop: a task keeps posting work for now");
    }
}

void VirtualRunLoop::advance(double seconds) {
    const double target = now_ + seconds;
    std::size_t count = 0;
    while (runNextDueBy(target)) {
        if (++count > runawayLimit) throw std::logic_error("VirtualRunLoop: runaway work while advancing");
    }
    now_ = target;
}

void VirtualRunLoop::run() {
    stopRequested_ = false;
    std::size_t count = 0;
    while (!stopRequested_) {
        if (entries_.empty()) {
            ADD_FAILURE() << "VirtualRunLoop::run() has nothing left to run and was never stopped";
            return;
        }
        runNextDueBy(entries_.begin()->first.due);
        if (++count > runawayLimit) throw std::logic_error("VirtualRunLoop: run() was never stopped");
    }
}

void VirtualRunLoop::stop() {
    stopRequested_ = true;
}

}  // namespace tessaly::testing
