#pragma once

#include <future>
#include <memory>
#include <thread>

#include "posix/AsioRunLoop.h"

namespace tessaly::testing {

/// A real run loop turning on a background thread of the test, as the helper's main thread would,
/// so that the test's own thread can act as a blocking client.
class LoopThread {
public:
    LoopThread() : thread_([this] { loop_.run(); }) {}
    ~LoopThread() {
        loop_.post([this] { loop_.stop(); });
        thread_.join();
    }
    LoopThread(const LoopThread&) = delete;
    LoopThread& operator=(const LoopThread&) = delete;

    AsioRunLoop& loop() { return loop_; }

    /// Runs `work` on the loop's thread and hands back its result (or rethrows its exception).
    template <class Work>
    auto call(Work work) -> decltype(work()) {
        using Result = decltype(work());
        auto task = std::make_shared<std::packaged_task<Result()>>(std::move(work));
        auto result = task->get_future();
        loop_.post([task] { (*task)(); });
        return result.get();
    }

private:
    AsioRunLoop loop_;
    std::thread thread_;
};

}  // namespace tessaly::testing
