#include "posix/AsioRunLoop.h"

#include <asio/post.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>

namespace tessaly {

namespace {

using Clock = std::chrono::steady_clock;

// Far enough to mean "never" without overflowing the clock's representation.
constexpr double longestDelay = 1e9;

Clock::duration toDuration(double seconds) {
    if (!(seconds > 0)) return Clock::duration::zero();  // also catches NaN
    const double bounded = std::min(seconds, longestDelay);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bounded));
}

// A late timer fires once for all the firings it missed, then keeps to its original beat.
Clock::time_point nextDue(Clock::time_point due, Clock::duration interval) {
    const auto next = due + interval;
    const auto now = Clock::now();
    if (next > now) return next;
    return next + ((now - next) / interval + 1) * interval;
}

}  // namespace

class AsioRunLoop::Timer : public RunLoopTimer {
public:
    Timer(asio::io_context& context, Task handler)
        : state_(std::make_shared<State>(context, std::move(handler))) {}
    ~Timer() override { cancel(); }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void reschedule(double firstAfter, double interval, double /*leeway*/) override {
        if (state_->cancelled) return;
        state_->interval = toDuration(interval);
        state_->repeats = state_->interval > Clock::duration::zero();
        arm(state_, ++state_->generation, Clock::now() + toDuration(firstAfter));
    }

    void cancel() override {
        state_->cancelled = true;
        state_->timer.cancel();
    }

private:
    struct State {
        State(asio::io_context& context, Task task) : timer(context), handler(std::move(task)) {}
        asio::steady_timer timer;
        Task handler;
        Clock::duration interval{};
        bool repeats = false;
        std::uint64_t generation = 0;
        bool cancelled = false;
    };

    // A firing that was already queued when the timer was rescheduled or cancelled carries an old
    // generation (or finds the timer cancelled) and does nothing.
    static void arm(const std::shared_ptr<State>& state, std::uint64_t generation, Clock::time_point due) {
        state->timer.expires_at(due);
        std::weak_ptr<State> weak = state;
        state->timer.async_wait([weak, generation, due](const std::error_code& error) {
            auto live = weak.lock();
            if (error || !live || live->cancelled || live->generation != generation) return;
            if (live->repeats) arm(live, generation, nextDue(due, live->interval));
            // `live` keeps the handler alive even if it destroys its own timer.
            live->handler();
        });
    }

    std::shared_ptr<State> state_;
};

class AsioRunLoop::Signal : public SignalSource {
public:
    Signal(asio::io_context& context, int signalNumber, Task handler)
        : signalNumber_(signalNumber), state_(std::make_shared<State>(context, std::move(handler))) {
        struct sigaction previous;
        std::memset(&previous, 0, sizeof previous);
        ::sigaction(signalNumber, nullptr, &previous);
        wasDefault_ = previous.sa_handler == SIG_DFL;
        state_->signals.add(signalNumber);
        wait(state_);
    }
    ~Signal() override { cancel(); }
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    void cancel() override {
        if (state_->cancelled) return;
        state_->cancelled = true;
        std::error_code ignored;
        state_->signals.clear(ignored);
        state_->signals.cancel(ignored);
        keepIgnored();
    }

private:
    struct State {
        State(asio::io_context& context, Task task) : signals(context), handler(std::move(task)) {}
        asio::signal_set signals;
        Task handler;
        bool cancelled = false;
    };

    static void wait(const std::shared_ptr<State>& state) {
        std::weak_ptr<State> weak = state;
        state->signals.async_wait([weak](const std::error_code& error, int) {
            auto live = weak.lock();
            if (error || !live || live->cancelled) return;
            wait(live);
            live->handler();
        });
    }

    // Asio puts a signal back to its default action when its last watcher goes; for SIGTERM that
    // would turn a late signal into an abrupt exit instead of the ignore the caller asked for.
    void keepIgnored() const {
        if (wasDefault_) return;
        struct sigaction current;
        std::memset(&current, 0, sizeof current);
        if (::sigaction(signalNumber_, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
        ::signal(signalNumber_, SIG_IGN);
    }

    int signalNumber_;
    bool wasDefault_ = true;
    std::shared_ptr<State> state_;
};

AsioRunLoop::AsioRunLoop()
    : work_(asio::make_work_guard(context_)), loopThread_(std::this_thread::get_id()) {}

AsioRunLoop::~AsioRunLoop() = default;

void AsioRunLoop::post(Task task) {
    asio::post(context_, std::move(task));
}

void AsioRunLoop::postAfter(double seconds, Task task) {
    if (!(seconds > 0)) {
        post(std::move(task));
        return;
    }
    auto timer = std::make_shared<asio::steady_timer>(context_, toDuration(seconds));
    timer->async_wait([timer, task = std::move(task)](const std::error_code& error) {
        if (!error) task();
    });
}

std::unique_ptr<RunLoopTimer> AsioRunLoop::makeTimer(double firstAfter, double interval, double leeway,
                                                     Task handler) {
    auto timer = std::make_unique<Timer>(context_, std::move(handler));
    timer->reschedule(firstAfter, interval, leeway);
    return timer;
}

void AsioRunLoop::ignoreSignal(int signalNumber) {
    ::signal(signalNumber, SIG_IGN);
}

std::unique_ptr<SignalSource> AsioRunLoop::watchSignal(int signalNumber, Task handler) {
    return std::make_unique<Signal>(context_, signalNumber, std::move(handler));
}

void AsioRunLoop::run() {
    loopThread_ = std::this_thread::get_id();
    context_.restart();
    context_.run();
}

void AsioRunLoop::stop() {
    context_.stop();
}

double AsioRunLoop::now() const {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

bool AsioRunLoop::isMainThread() const {
    return loopThread_.load() == std::this_thread::get_id();
}

}  // namespace tessaly
