#include "SetupOperationRunner.h"

#include <QMetaObject>
#include <utility>

namespace tessaly {

SetupOperationRunner::SetupOperationRunner()
    : receiver_(std::make_unique<QObject>()), worker_([this] { work(); }) {}

SetupOperationRunner::~SetupOperationRunner() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_one();
    worker_.join();
    // Only now, with no worker left to post, may the receiver and its waiting completions go.
    receiver_.reset();
}

void SetupOperationRunner::run(Job job, Completion completion) {
    ++pending_;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({std::move(job), std::move(completion)});
    }
    wake_.notify_one();
}

void SetupOperationRunner::work() {
    for (;;) {
        Entry entry;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            entry = std::move(queue_.front());
            queue_.pop_front();
        }
        std::exception_ptr error;
        try {
            entry.job();
        } catch (...) {
            error = std::current_exception();
        }
        deliver(std::move(entry.completion), error);
    }
}

void SetupOperationRunner::deliver(Completion completion, std::exception_ptr error) {
    QMetaObject::invokeMethod(
        receiver_.get(),
        [this, completion = std::move(completion), error] {
            // A completion may run a modal alert; the job counts as pending until it returns.
            if (completion) completion(error);
            --pending_;
        },
        Qt::QueuedConnection);
}

}  // namespace tessaly
