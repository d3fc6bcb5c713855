#include "QtRefreshScheduler.h"

#include <cmath>
#include <utility>

namespace tessaly {

QtRefreshScheduler::QtRefreshScheduler() {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { fire(); });
}

void QtRefreshScheduler::schedule(double seconds, std::function<void()> task) {
    task_ = std::move(task);
    timer_.start(static_cast<int>(std::lround(seconds * 1000)));
}

void QtRefreshScheduler::cancel() {
    timer_.stop();
    task_ = nullptr;
}

void QtRefreshScheduler::fire() {
    // The task usually schedules the next round, which replaces task_; run it from a local copy.
    auto task = std::exchange(task_, nullptr);
    if (task) task();
}

}  // namespace tessaly
