#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ports/Log.h"
#include "ports/RunLoop.h"
#include "preference/AudioPreference.h"
#include "preference/PreferenceStore.h"

namespace tessaly {

/// The remembered choice and its writing to audio.json: at once, or once a burst of changes has
/// settled for 0.15 s. A failed write keeps the choice pending, is logged once per distinct text,
/// and is tried again by the next save.
class PreferenceSaver {
public:
    PreferenceSaver(PreferenceStore store, RunLoop& runLoop, Log& log)
        : store_(std::move(store)), runLoop_(runLoop), log_(log) {}
    PreferenceSaver(const PreferenceSaver&) = delete;
    PreferenceSaver& operator=(const PreferenceSaver&) = delete;

    const PreferenceStore& store() const { return store_; }
    /// Takes a choice that is already on disk.
    void adoptSaved(const AudioPreference& preference);
    /// Takes the user's new choice and saves it 0.15 s after the last of a burst.
    void adoptChanged(const AudioPreference& preference);
    /// Writes a pending choice now.
    void save();
    /// Writes the choice again when its file has disappeared (removed by hand), so that the next
    /// login still starts with it.
    void rewriteIfMissing();
    /// Cancels the delayed save, as stopping does.
    void cancelDelayedSave() { ++generation_; }

    const AudioPreference& preference() const { return preference_; }
    /// The choice in memory differs from what was last written.
    bool dirty() const { return dirty_; }
    /// The message of the last failed write; cleared by a write that succeeds.
    const std::optional<std::string>& error() const { return error_; }

private:
    PreferenceStore store_;
    RunLoop& runLoop_;
    Log& log_;
    AudioPreference preference_ = AudioPreference::defaultPreference();
    bool dirty_ = false;
    std::optional<std::string> error_;
    // Moved on by every change, every write and every cancel: a delayed save runs only if nothing
    // of that happened since it was scheduled.
    std::uint64_t generation_ = 0;
    std::shared_ptr<PreferenceSaver*> self_ = std::make_shared<PreferenceSaver*>(this);
};

}  // namespace tessaly
