// What the real loop promises beyond the shared run-loop contract: other threads may post and stop,
// and watching a signal leaves it ignored afterwards.

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <future>
#include <thread>

#include "posix/AsioRunLoop.h"

namespace tessaly {
namespace {

constexpr auto generousWait = std::chrono::seconds(5);

struct sigaction dispositionOf(int signalNumber) {
    struct sigaction current {};
    ::sigaction(signalNumber, nullptr, &current);
    return current;
}

TEST(AsioRunLoopThreads, ATaskPostedFromAnotherThreadRunsOnTheLoopThreadAndStopFromAnotherThreadEndsRun) {
    AsioRunLoop loop;
    std::promise<bool> ranOnLoopThread;
    auto finished = std::async(std::launch::async, [&] { loop.run(); });
    std::thread([&] { loop.post([&] { ranOnLoopThread.set_value(loop.isMainThread()); }); }).join();
    auto ran = ranOnLoopThread.get_future();
    const bool ranInTime = ran.wait_for(generousWait) == std::future_status::ready;
    EXPECT_TRUE(ranInTime && ran.get());

    loop.stop();

    const bool ended = finished.wait_for(generousWait) == std::future_status::ready;
    EXPECT_TRUE(ended);
    if (!ended) loop.post([&] { loop.stop(); });  // keep a failing test from hanging forever
}

TEST(AsioRunLoopSignals, SignalReachesTheSourceThatRemainsAndStaysIgnoredWhenTheLastGoes) {
    const struct sigaction previous = dispositionOf(SIGUSR2);
    ::signal(SIGUSR2, SIG_IGN);
    {
        AsioRunLoop loop;
        int deliveries = 0;
        auto first = loop.watchSignal(SIGUSR2, [] {});
        auto second = loop.watchSignal(SIGUSR2, [&] {
            ++deliveries;
            loop.stop();
        });
        first.reset();
        loop.post([] { ::raise(SIGUSR2); });
        loop.postAfter(5.0, [&] { loop.stop(); });
        loop.run();
        EXPECT_EQ(deliveries, 1);
    }
    EXPECT_EQ(dispositionOf(SIGUSR2).sa_handler, SIG_IGN);
    ::sigaction(SIGUSR2, &previous, nullptr);
}

}  // namespace
}  // namespace tessaly
