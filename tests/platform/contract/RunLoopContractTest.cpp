// The run-loop contract, written once and run against the virtual-time loop the other tests use, the
// real Asio loop the helper runs on, and the Mac loop over the stand-in main queue (on virtual time).
// On the real loop the delays are short and only the order of events is asserted, never how long
// anything took.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "mac/MacRunLoop.h"
#include "mac/standin/MacStandin.h"
#include "posix/AsioRunLoop.h"
#include "support/VirtualRunLoop.h"

namespace tessaly {
namespace {

using testing::VirtualRunLoop;

// The Mac loop with its main queue routed to a virtual-time loop for as long as it lives.
struct VirtualMainQueue {
    VirtualMainQueue() { MacStandin::routeMainQueue(&queue); }
    ~VirtualMainQueue() { MacStandin::routeMainQueue(nullptr); }
    VirtualRunLoop queue;
};
class MacRunLoopOnVirtualTime : public VirtualMainQueue, public MacRunLoop {};

// How a test makes things happen that are not tasks of the loop, and reads the time tasks run by.
template <class Loop>
struct LoopDriver;

template <>
struct LoopDriver<VirtualRunLoop> {
    static void deliver(VirtualRunLoop& loop, int signalNumber) { loop.raise(signalNumber); }
    // Virtual time stands still inside a task, so timers fall due together anyway.
    static void occupy(VirtualRunLoop&, double) {}
    static double clock(VirtualRunLoop& loop) { return loop.now(); }
};

template <>
struct LoopDriver<MacRunLoopOnVirtualTime> {
    // The loop set the process's disposition with signal(); the stand-in queue keeps its own.
    static void deliver(MacRunLoopOnVirtualTime& loop, int signalNumber) {
        loop.queue.ignoreSignal(signalNumber);
        loop.queue.raise(signalNumber);
    }
    static void occupy(MacRunLoopOnVirtualTime&, double) {}
    // The Mac loop's own clock is the real one; its tasks run by the queue's virtual time.
    static double clock(MacRunLoopOnVirtualTime& loop) { return loop.queue.now(); }
};

template <>
struct LoopDriver<AsioRunLoop> {
    static void deliver(AsioRunLoop&, int signalNumber) { ::raise(signalNumber); }
    static double clock(AsioRunLoop& loop) { return loop.now(); }
    // Keeps the loop's thread busy so that timers fall due while it cannot look at them.
    static void occupy(AsioRunLoop& loop, double seconds) {
        const double until = loop.now() + seconds;
        while (loop.now() < until) {
        }
    }
};

// Keeps the test's own disposition of a signal and puts it back afterwards, whatever the loop set.
class IgnoredSignal {
public:
    explicit IgnoredSignal(int signalNumber) : signalNumber_(signalNumber) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(signalNumber_, &ignore, &previous_);
    }
    ~IgnoredSignal() { ::sigaction(signalNumber_, &previous_, nullptr); }
    IgnoredSignal(const IgnoredSignal&) = delete;
    IgnoredSignal& operator=(const IgnoredSignal&) = delete;

private:
    int signalNumber_;
    struct sigaction previous_ {};
};

template <class Loop>
class RunLoopContract : public ::testing::Test {
protected:
    using Driver = LoopDriver<Loop>;

    // Runs until a task of the test stops the loop; a guard stops it instead (and the test fails)
    // when the behaviour under test never does.
    void runUntilStopped() {
        guardFired_ = false;
        loop.postAfter(guardDelay, [this] {
            guardFired_ = true;
            loop.stop();
        });
        loop.run();
        EXPECT_FALSE(guardFired_) << "the test's own tasks never stopped the loop";
    }

    RunLoop::Task record(std::string event) {
        return [this, event] { events.push_back(event); };
    }
    RunLoop::Task recordAndStop(std::string event) {
        return [this, event] {
            events.push_back(event);
            loop.stop();
        };
    }
    void stopAfter(double seconds) {
        loop.postAfter(seconds, [this] { loop.stop(); });
    }

    // What a Mac loop handed its queue and is still pending (a guard, a stop after a delay) runs
    // now, the stopped loop forgetting it, so that each task the loop allocated is freed.
    void TearDown() override {
        if constexpr (std::is_same_v<Loop, MacRunLoopOnVirtualTime>) loop.queue.advance(guardDelay);
    }

    static constexpr double guardDelay = 5.0;

    Loop loop;
    std::vector<std::string> events;

private:
    bool guardFired_ = false;
};

struct LoopNames {
    template <class Loop>
    static std::string GetName(int) {
        if constexpr (std::is_same_v<Loop, MacRunLoopOnVirtualTime>) return "Mac";
        return std::is_same_v<Loop, VirtualRunLoop> ? "Virtual" : "Asio";
    }
};

using Loops = ::testing::Types<VirtualRunLoop, AsioRunLoop, MacRunLoopOnVirtualTime>;
TYPED_TEST_SUITE(RunLoopContract, Loops, LoopNames);

using Events = std::vector<std::string>;

TYPED_TEST(RunLoopContract, PostsRunInPostingOrderThoseFromATaskAfterEarlierPostsAndDelaysByDueTime) {
    this->loop.post(this->record("posted"));
    this->loop.post([this] {
        this->events.push_back("first begins");
        this->loop.post(this->record("posted by first"));
        this->events.push_back("first ends");
    });
    this->loop.postAfter(0.03, this->record("third"));
    this->loop.postAfter(0, this->record("delayed by zero"));
    this->loop.postAfter(0.01, this->record("first"));
    this->loop.postAfter(0.02, this->record("second"));
    this->loop.post(this->record("posted later"));
    this->loop.postAfter(0.04, this->recordAndStop("stop"));
    this->runUntilStopped();
    EXPECT_EQ(this->events, (Events{"posted", "first begins", "first ends", "delayed by zero", "posted later",
                                    "posted by first", "first", "second", "third", "stop"}));
}

// The timer is made for far later and brought forward before the loop runs.
TYPED_TEST(RunLoopContract, NeitherADelayedTaskNorATimersFirstFiringRunsEarlyAndRescheduleBringsItForward) {
    const double postedAt = TestFixture::Driver::clock(this->loop);
    double ranAt = postedAt;
    double firstFiring = postedAt;
    this->loop.postAfter(0.02, [&] { ranAt = TestFixture::Driver::clock(this->loop); });
    auto timer = this->loop.makeTimer(100, 100, 0, [&] {
        firstFiring = TestFixture::Driver::clock(this->loop);
        this->loop.stop();
    });
    timer->reschedule(0.03, 10, 0);
    this->runUntilStopped();
    EXPECT_GE(ranAt - postedAt, 0.02 - 1e-6);
    EXPECT_GE(firstFiring - postedAt, 0.03 - 1e-6);
}

TYPED_TEST(RunLoopContract, TimerRepeatsAndARescheduleFromItsOwnHandlerTakesEffect) {
    int firings = 0;
    int rescheduled = 0;
    auto stopWhenBothFiredThrice = [&] {
        if (firings >= 3 && rescheduled == 3) this->loop.stop();
    };
    auto repeating = this->loop.makeTimer(0.01, 0.01, 0, [&] {
        ++firings;
        stopWhenBothFiredThrice();
    });
    std::unique_ptr<RunLoopTimer> timer;
    timer = this->loop.makeTimer(0.01, 100, 0, [&] {
        if (++rescheduled < 3) timer->reschedule(0.01, 100, 0);
        stopWhenBothFiredThrice();
    });
    this->runUntilStopped();
    EXPECT_GE(firings, 3);
    EXPECT_EQ(rescheduled, 3);
}

TYPED_TEST(RunLoopContract,
           APutOffDestroyedOrCancelledTimerAndACancelledSignalSourceStaySilentAndATimerMayEndItself) {
    IgnoredSignal ignored(SIGINT);
    this->loop.ignoreSignal(SIGINT);
    auto putOff = this->loop.makeTimer(0.01, 0.01, 0, this->record("put off"));
    putOff->reschedule(100, 100, 0);
    auto destroyed = this->loop.makeTimer(0.01, 0.01, 0, this->record("destroyed"));
    destroyed.reset();
    auto source = this->loop.watchSignal(SIGINT, this->record("SIGINT"));
    source->cancel();
    this->loop.post([this] { TestFixture::Driver::deliver(this->loop, SIGINT); });
    std::unique_ptr<RunLoopTimer> cancelled;
    cancelled = this->loop.makeTimer(0.01, 0.01, 0, [&] {
        this->events.push_back("cancelled");
        cancelled->cancel();
        cancelled->reschedule(0.01, 0.01, 0);  // a cancelled timer stays cancelled
    });
    std::unique_ptr<RunLoopTimer> selfDestroyed;
    selfDestroyed = this->loop.makeTimer(0.01, 0.01, 0, [&] {
        this->events.push_back("destroyed by its handler");
        selfDestroyed.reset();
    });
    this->stopAfter(0.1);
    this->runUntilStopped();
    EXPECT_THAT(this->events, ::testing::UnorderedElementsAre("cancelled", "destroyed by its handler"));
}

TYPED_TEST(RunLoopContract, TimerCancelledWhileItsFiringIsAlreadyDueStaysSilent) {
    std::unique_ptr<RunLoopTimer> first;
    std::unique_ptr<RunLoopTimer> second;
    this->loop.post([&] {
        first = this->loop.makeTimer(0.01, 100, 0, [&] {
            this->events.push_back("first");
            second->cancel();
        });
        second = this->loop.makeTimer(0.01, 100, 0, [&] {
            this->events.push_back("second");
            first->cancel();
        });
        // Both fall due before the loop can look at either.
        TestFixture::Driver::occupy(this->loop, 0.03);
    });
    this->stopAfter(0.1);
    this->runUntilStopped();
    EXPECT_EQ(this->events.size(), 1u);
}

TYPED_TEST(RunLoopContract, StopEndsRunAndLeavesLaterTasksForTheNextRunAndWhileNotRunningIsForgotten) {
    this->loop.post(this->record("before stop"));
    this->loop.post([this] { this->loop.stop(); });
    this->loop.post(this->record("after stop"));
    this->runUntilStopped();
    EXPECT_EQ(this->events, Events{"before stop"});

    this->loop.stop();
    this->loop.post(this->recordAndStop("second run"));
    this->runUntilStopped();
    EXPECT_EQ(this->events, (Events{"before stop", "after stop", "second run"}));
}

TYPED_TEST(RunLoopContract, SignalHandlerRunsOnTheLoopThreadTheOnlyOneThatIsTheMainThread) {
    IgnoredSignal ignored(SIGTERM);
    this->loop.ignoreSignal(SIGTERM);
    bool onMainThread = false;
    bool otherThread = true;
    auto source = this->loop.watchSignal(SIGTERM, [&] {
        onMainThread = this->loop.isMainThread();
        std::thread([&] { otherThread = this->loop.isMainThread(); }).join();
        this->events.push_back("SIGTERM");
        this->loop.stop();
    });
    this->loop.post([this] { TestFixture::Driver::deliver(this->loop, SIGTERM); });
    this->runUntilStopped();
    EXPECT_EQ(this->events, Events{"SIGTERM"});
    EXPECT_TRUE(onMainThread);
    EXPECT_FALSE(otherThread);
}

TEST(MacRunLoopLeeway, EachTimerHandsItsLeewayToTheMainQueue) {
    MacRunLoopOnVirtualTime loop;
    auto timer = loop.makeTimer(0.5, 2.0, 0.2, [] {});
    EXPECT_EQ(loop.queue.timerLeeways(), std::vector<double>{0.2});
    timer->reschedule(0.25, 0.25, 0.025);
    EXPECT_EQ(loop.queue.timerLeeways(), std::vector<double>{0.025});
}

}  // namespace
}  // namespace tessaly
