#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "SetupActions.h"
#include "foundation/TessalyError.h"

namespace tessaly::testing {

/// Setup actions for the window's tests. Calls arrive on the window's worker thread; each is
/// recorded by name ("enable", "snapshot", ...), can be held until the test releases it, and can
/// be made to fail with a sentence.
class FakeSetupActions : public SetupActions {
public:
    /// What snapshot() returns from now on.
    void setSnapshot(const SetupSnapshot& snapshot) {
        locked([&] { snapshot_ = snapshot; });
    }
    /// Calls of `operation` wait from now on until release(operation).
    void hold(const std::string& operation) {
        locked([&] { held_.insert(operation); });
    }
    /// Lets the waiting and later calls of `operation` run.
    void release(const std::string& operation) {
        locked([&] { held_.erase(operation); });
    }
    /// Lets everything run; the tests' tear-down calls this so the worker can finish.
    void releaseAll() {
        locked([&] { held_.clear(); });
    }
    /// The next call of `operation` throws a TessalyError with `message`.
    void failNext(const std::string& operation, const std::string& message) {
        locked([&] { failures_[operation] = message; });
    }
    /// revealApplicationsFolder() reports failure from now on.
    void failRevealing() {
        locked([&] { revealWorks_ = false; });
    }

    /// Every call so far, in order.
    std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    /// How many times `operation` was called.
    int count(const std::string& operation) const {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count(calls_.begin(), calls_.end(), operation));
    }
    /// Blocks until `operation` has been called `times` times; false after ten seconds.
    bool waitForCall(const std::string& operation, int times = 1) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] {
            return std::count(calls_.begin(), calls_.end(), operation) >= times;
        });
    }

    void enable() override { enter("enable"); }
    void disable() override { enter("disable"); }
    void restart() override { enter("restart"); }
    void uninstall() override { enter("uninstall"); }
    void requestAccessibility() override { enter("requestAccessibility"); }
    void openAccessibilitySettings() override { enter("openAccessibilitySettings"); }
    void openLoginSettings() override { enter("openLoginSettings"); }
    SetupSnapshot snapshot() override {
        enter("snapshot");
        std::lock_guard lock(mutex_);
        return snapshot_;
    }
    bool revealApplicationsFolder() override {
        enter("revealApplicationsFolder");
        std::lock_guard lock(mutex_);
        return revealWorks_;
    }

private:
    // Changes the fake's state under its lock, and wakes whoever waits on it.
    template <typename Change>
    void locked(Change change) {
        {
            std::lock_guard lock(mutex_);
            change();
        }
        changed_.notify_all();
    }

    void enter(const std::string& operation) {
        std::unique_lock lock(mutex_);
        calls_.push_back(operation);
        changed_.notify_all();
        changed_.wait(lock, [&] { return !held_.contains(operation); });
        auto failure = failures_.find(operation);
        if (failure == failures_.end()) return;
        const std::string message = failure->second;
        failures_.erase(failure);
        throw TessalyError(message);
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    SetupSnapshot snapshot_;
    std::set<std::string> held_;
    std::map<std::string, std::string> failures_;
    bool revealWorks_ = true;
    std::vector<std::string> calls_;
};

}  // namespace tessaly::testing
