#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "SetupActions.h"

namespace tessaly::testing {

/// Setup actions for the window's tests. Calls arrive on the window's worker thread; each is
/// recorded by name ("enable", "snapshot", ...), can be held until the test releases it, and can
/// be made to fail with a sentence.
class FakeSetupActions : public SetupActions {
public:
    /// What snapshot() returns from now on.
    void setSnapshot(const SetupSnapshot& snapshot);
    /// Calls of `operation` wait from now on until release(operation).
    void hold(const std::string& operation);
    /// Lets the waiting and later calls of `operation` run.
    void release(const std::string& operation);
    /// Lets everything run; the tests' tear-down calls this so the worker can finish.
    void releaseAll();
    /// The next call of `operation` throws a TessalyError with `message`.
    void failNext(const std::string& operation, const std::string& message);
    /// revealApplicationsFolder() reports failure from now on.
    void failRevealing();

    /// Every call so far, in order.
    std::vector<std::string> calls() const;
    /// How many times `operation` was called.
    int count(const std::string& operation) const;
    /// Blocks until `operation` has been called `times` times; false after ten seconds.
    bool waitForCall(const std::string& operation, int times = 1) const;

    void enable() override { enter("enable"); }
    void disable() override { enter("disable"); }
    void restart() override { enter("restart"); }
    void uninstall() override { enter("uninstall"); }
    void requestAccessibility() override { enter("requestAccessibility"); }
    void openAccessibilitySettings() override { enter("openAccessibilitySettings"); }
    void openLoginSettings() override { enter("openLoginSettings"); }
    SetupSnapshot snapshot() override;
    bool revealApplicationsFolder() override;

private:
    void enter(const std::string& operation);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    SetupSnapshot snapshot_;
    std::set<std::string> held_;
    std::map<std::string, std::string> failures_;
    bool revealWorks_ = true;
    std::vector<std::string> calls_;
};

}  // namespace tessaly::testing
