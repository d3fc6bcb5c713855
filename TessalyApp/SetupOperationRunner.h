#pragma once

#include <QObject>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tessaly {

/// Runs the setup window's blocking work (setup operations and snapshots) one job at a time on one
/// worker thread, in the order it was asked for, and hands each result back to the GUI thread, so
/// the GUI thread never waits for launchctl, the status port or the helper.
class SetupOperationRunner {
public:
    /// Runs on the worker thread; may throw.
    using Job = std::function<void()>;
    /// Runs on the GUI thread with the job's exception, or null when it succeeded.
    using Completion = std::function<void(std::exception_ptr)>;

    /// Must be made on the GUI thread: completions are delivered to the thread that made it.
    SetupOperationRunner();
    /// Waits for the running job, if any; jobs not yet started and undelivered completions are dropped.
    ~SetupOperationRunner();

    SetupOperationRunner(const SetupOperationRunner&) = delete;
    SetupOperationRunner& operator=(const SetupOperationRunner&) = delete;

    /// Queues `job` after those already queued; `completion` runs later through the GUI event loop.
    void run(Job job, Completion completion);

    /// Jobs queued, running, or whose completion has not finished yet. GUI thread only.
    std::size_t pendingCount() const { return pending_; }

private:
    struct Entry {
        Job job;
        Completion completion;
    };

    void work();
    void deliver(Completion completion, std::exception_ptr error);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Entry> queue_;
    bool stopping_ = false;
    std::size_t pending_ = 0;
    // Completions are posted to this object: deleting it drops those still waiting.
    std::unique_ptr<QObject> receiver_;
    std::thread worker_;
};

}  // namespace tessaly
