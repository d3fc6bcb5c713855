// The Mac run loop over the stand-in main queue, which runs on virtual time.

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "mac/MacRunLoop.h"
#include "mac/standin/MacStandin.h"
#include "support/VirtualRunLoop.h"

namespace tessaly {
namespace {

class MacRunLoopTest : public ::testing::Test {
protected:
    MacRunLoopTest() { MacStandin::routeMainQueue(&virtualTime); }
    ~MacRunLoopTest() override { MacStandin::routeMainQueue(nullptr); }

    RunLoop::Task note(std::string what) {
        return [this, what] { done.push_back(what); };
    }

    testing::VirtualRunLoop virtualTime;
    MacRunLoop runLoop;
    std::vector<std::string> done;
};

TEST_F(MacRunLoopTest, PostsRunInOrderAndDelaysWhenTheyFallDue) {
    runLoop.postAfter(0.15, note("save"));
    runLoop.post(note("first"));
    runLoop.post(note("second"));
    EXPECT_TRUE(done.empty());
    virtualTime.runUntilIdle();
    EXPECT_EQ(done, (std::vector<std::string>{"first", "second"}));
    virtualTime.advance(0.149);
    EXPECT_EQ(done.size(), 2u);
    virtualTime.advance(0.001);
    EXPECT_EQ(done.back(), "save");
}

TEST_F(MacRunLoopTest, TimersFireRescheduleWithTheirLeewayAndStopForGood) {
    auto timer = runLoop.makeTimer(0.5, 2.0, 0.2, note("poll"));
    EXPECT_EQ(virtualTime.timerLeeways(), std::vector<double>{0.2});
    virtualTime.advance(0.5);
    EXPECT_EQ(done.size(), 1u);
    virtualTime.advance(2.0);
    EXPECT_EQ(done.size(), 2u);

    timer->reschedule(0.25, 0.25, 0.025);
    EXPECT_EQ(virtualTime.timerLeeways(), std::vector<double>{0.025});
    virtualTime.advance(1.0);
    EXPECT_EQ(done.size(), 6u);

    timer->cancel();
    virtualTime.advance(5.0);
    EXPECT_EQ(done.size(), 6u);

    auto dropped = runLoop.makeTimer(0.1, 0.1, 0, note("dropped"));
    dropped.reset();
    virtualTime.advance(1.0);
    EXPECT_EQ(done.size(), 6u);
}

TEST_F(MacRunLoopTest, SignalsReachTheirHandlerOnTheMainQueueUntilCancelled) {
    // The process's disposition, which MacRunLoop::ignoreSignal sets with signal(), is the loop's here.
    virtualTime.ignoreSignal(SIGTERM);
    auto source = runLoop.watchSignal(SIGTERM, note("term"));
    virtualTime.raise(SIGTERM);
    EXPECT_TRUE(done.empty());
    virtualTime.runUntilIdle();
    EXPECT_EQ(done, std::vector<std::string>{"term"});
    source->cancel();
    virtualTime.raise(SIGTERM);
    virtualTime.runUntilIdle();
    EXPECT_EQ(done.size(), 1u);
}

TEST_F(MacRunLoopTest, RunServesUntilStoppedAndKnowsItsThread) {
    runLoop.post([&] {
        done.push_back(runLoop.isMainThread() ? "main" : "other");
        runLoop.stop();
    });
    runLoop.run();
    EXPECT_TRUE(virtualTime.wasStopped());
    bool otherIsMain = true;
    std::thread([&] { otherIsMain = runLoop.isMainThread(); }).join();
    EXPECT_EQ(done, std::vector<std::string>{"main"});
    EXPECT_FALSE(otherIsMain);
}

}  // namespace
}  // namespace tessaly
