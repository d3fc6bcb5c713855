#pragma once

#include <QTimer>
#include <functional>

#include "RefreshScheduler.h"

namespace tessaly {

/// The refresh loop's delay on a precise single-shot Qt timer, so a two-second wait is not
/// stretched by timer coalescing.
class QtRefreshScheduler : public RefreshScheduler {
public:
    QtRefreshScheduler();

    void schedule(double seconds, std::function<void()> task) override;
    void cancel() override;

private:
    void fire();

    QTimer timer_;
    std::function<void()> task_;
};

}  // namespace tessaly
