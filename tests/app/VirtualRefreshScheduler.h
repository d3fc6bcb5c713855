#pragma once

#include <cstdint>
#include <functional>

#include "RefreshScheduler.h"
#include "support/VirtualRunLoop.h"

namespace tessaly::testing {

/// The refresh loop's delay on a virtual-time run loop: tests advance the clock instead of waiting.
class VirtualRefreshScheduler : public RefreshScheduler {
public:
    explicit VirtualRefreshScheduler(VirtualRunLoop& loop) : loop_(loop) {}

    void schedule(double seconds, std::function<void()> task) override {
        const auto generation = ++generation_;
        loop_.postAfter(seconds, [this, generation, task = std::move(task)] {
            if (generation == generation_) task();
        });
    }

    // A later generation makes every task already posted a no-op.
    void cancel() override { ++generation_; }

private:
    VirtualRunLoop& loop_;
    std::uint64_t generation_ = 0;
};

}  // namespace tessaly::testing
