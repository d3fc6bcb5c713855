#include "service/PreferenceSaver.h"

#include <exception>

namespace tessaly {

namespace {
constexpr const char* logCategory = "mute";
constexpr double saveDelay = 0.15;
}  // namespace

void PreferenceSaver::adoptSaved(const AudioPreference& preference) {
    preference_ = preference;
    dirty_ = false;
}

void PreferenceSaver::adoptChanged(const AudioPreference& preference) {
    preference_ = preference;
    dirty_ = true;
    const std::uint64_t generation = ++generation_;
    runLoop_.postAfter(saveDelay, [weak = std::weak_ptr<PreferenceSaver*>(self_), generation] {
        auto self = weak.lock();
        if (self && (*self)->generation_ == generation) (*self)->save();
    });
}

void PreferenceSaver::save() {
    if (!dirty_) return;
    ++generation_;
    try {
        store_.save(preference_);
        dirty_ = false;
        error_.reset();
    } catch (const std::exception& error) {
        const std::string message =
            std::string("Cannot save the chosen Quick Look audio setting: ") + error.what();
        if (error_ != message) log_.write(logCategory, LogLevel::error, message);
        error_ = message;
    }
}

void PreferenceSaver::rewriteIfMissing() {
    if (dirty_ || !store_.isMissing()) return;
    dirty_ = true;
    save();
}

}  // namespace tessaly
