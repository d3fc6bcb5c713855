#include "FakeSetupActions.h"

#include <algorithm>
#include <chrono>

#include "foundation/TessalyError.h"

namespace tessaly::testing {

void FakeSetupActions::setSnapshot(const SetupSnapshot& snapshot) {
    std::lock_guard lock(mutex_);
    snapshot_ = snapshot;
}

void FakeSetupActions::hold(const std::string& operation) {
    std::lock_guard lock(mutex_);
    held_.insert(operation);
}

void FakeSetupActions::release(const std::string& operation) {
    {
        std::lock_guard lock(mutex_);
        held_.erase(operation);
    }
    changed_.notify_all();
}

void FakeSetupActions::releaseAll() {
    {
        std::lock_guard lock(mutex_);
        held_.clear();
    }
    changed_.notify_all();
}

void FakeSetupActions::failNext(const std::string& operation, const std::string& message) {
    std::lock_guard lock(mutex_);
    failures_[operation] = message;
}

void FakeSetupActions::failRevealing() {
    std::lock_guard lock(mutex_);
    revealWorks_ = false;
}

std::vector<std::string> FakeSetupActions::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

int FakeSetupActions::count(const std::string& operation) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(calls_.begin(), calls_.end(), operation));
}

bool FakeSetupActions::waitForCall(const std::string& operation, int times) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return std::count(calls_.begin(), calls_.end(), operation) >= times; });
}

SetupSnapshot FakeSetupActions::snapshot() {
    enter("snapshot");
    std::lock_guard lock(mutex_);
    return snapshot_;
}

bool FakeSetupActions::revealApplicationsFolder() {
    enter("revealApplicationsFolder");
    std::lock_guard lock(mutex_);
    return revealWorks_;
}

void FakeSetupActions::enter(const std::string& operation) {
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

}  // namespace tessaly::testing
