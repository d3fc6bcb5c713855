// launchd's reading of KeepAlive and its throttle, decided on plain wait statuses and clock values.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <csignal>

#include "posix/KeepAlive.h"

namespace tessaly {
namespace {

int exited(int code) {
    return (code & 0xff) << 8;
}

TEST(KeepAlive, TheDefinitionsValueNamesWhichEndsStartTheProgramAgain) {
    const CFValue unsuccessful(CFDictionary{{"SuccessfulExit", false}});
    const CFValue successful(CFDictionary{{"SuccessfulExit", true}});
    const CFValue otherCondition(CFDictionary{{"Crashed", true}});
    const CFValue yes(true);
    const CFValue no(false);
    const CFValue text("yes");
    EXPECT_EQ(keepAliveOf(nullptr), KeepAlive::never);
    EXPECT_EQ(keepAliveOf(&no), KeepAlive::never);
    EXPECT_EQ(keepAliveOf(&text), KeepAlive::never);
    EXPECT_EQ(keepAliveOf(&yes), KeepAlive::always);
    EXPECT_EQ(keepAliveOf(&otherCondition), KeepAlive::always);
    EXPECT_EQ(keepAliveOf(&unsuccessful), KeepAlive::afterUnsuccessfulEnd);
    EXPECT_EQ(keepAliveOf(&successful), KeepAlive::afterSuccessfulExit);

    // An unsuccessful end is any exit status but zero, and any signal.
    struct Case {
        int waitStatus;
        bool afterUnsuccessful;
        bool afterSuccessful;
    };
    for (const Case& c :
         {Case{exited(0), false, true}, Case{exited(1), true, false}, Case{exited(2), true, false},
          Case{exited(255), true, false}, Case{SIGKILL, true, false}, Case{SIGSEGV, true, false},
          Case{SIGTERM, true, false}}) {
        EXPECT_EQ(restartsAfter(KeepAlive::afterUnsuccessfulEnd, c.waitStatus), c.afterUnsuccessful)
            << c.waitStatus;
        EXPECT_EQ(restartsAfter(KeepAlive::afterSuccessfulExit, c.waitStatus), c.afterSuccessful)
            << c.waitStatus;
        EXPECT_TRUE(restartsAfter(KeepAlive::always, c.waitStatus));
        EXPECT_FALSE(restartsAfter(KeepAlive::never, c.waitStatus));
    }
}

TEST(KeepAlive, TheThrottleCountsFromTheLastStart) {
    constexpr std::int64_t second = 1'000'000'000;
    const std::int64_t throttle = static_cast<std::int64_t>(keepAliveThrottleSeconds) * second;
    EXPECT_EQ(throttle, 10 * second);
    // A program that ran 2 s waits 8 s more; one that ran longer than the throttle starts at once.
    EXPECT_EQ(restartDelay(100 * second, 102 * second, throttle), 8 * second);
    EXPECT_EQ(restartDelay(100 * second, 110 * second, throttle), 0);
    EXPECT_EQ(restartDelay(100 * second, 500 * second, throttle), 0);
    EXPECT_EQ(restartDelay(100 * second, 100 * second, throttle), throttle);
}

}  // namespace
}  // namespace tessaly
