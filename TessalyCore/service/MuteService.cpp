#include "service/MuteService.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <set>

#include "foundation/AudioHardwareError.h"
#include "foundation/TessalyError.h"
#include "preview/PreviewFailure.h"

namespace tessaly {

namespace {

constexpr const char* logCategory = "mute";
constexpr double idlePollInterval = 2.0;
constexpr double busyPollInterval = 0.25;
// How late the system may fire the poll timer, to save power; a rescheduled timer keeps closer time.
constexpr double pollLeeway = 0.2;
constexpr double rescheduleLeeway = 0.025;
constexpr double followUpDelays[] = {0.05, 0.2, 0.5};
// A follow-up refresh due this close to one already asked for is the same refresh: one window's
// opening or closing announces itself many times over.
constexpr double followUpTolerance = 0.01;

const char* const untrustedMessage = "Open Tessaly and allow Accessibility to finish setup.";
const char* const announcedPreviewReason = "A new preview may play before its volume is restored.";
const char* const restartedMessage = "Core Audio restarted; launchd must recreate the audio guard.";

// Notifications after which the window's controls are still settling, so one refresh is not enough.
bool announcesLayoutChange(const std::string& notification) {
    static const std::set<std::string> names = {
        "AXWindowCreated", "AXFocusedWindowChanged", "AXFocusedUIElementChanged",
        "AXLayoutChanged", "AXTitleChanged",         "AXUIElementDestroyed"};
    return names.count(notification) > 0;
}

// Notifications that announce a preview which plays at the player's own level until a pass
// restores it: a new window, or another file in a window (the arrow keys in Quick Look).
bool announcesNewPreview(const std::string& notification) {
    return notification == "AXWindowCreated" || notification == "AXTitleChanged";
}

}  // namespace

MuteService::MuteService(MuteServicePlatform platform, PreferenceStore store,
                         std::optional<PreviewController::HostPIDs> hostPIDs, std::string portName)
    : platform_(std::move(platform)),
      saver_(std::move(store), platform_.runLoop, platform_.log),
      hostPIDs_(std::move(hostPIDs)),
      portName_(std::move(portName)),
      guard_(platform_.audio, platform_.log, platform_.processID),
      statusServer_(platform_.messagePorts, platform_.runLoop, platform_.log),
      self_(std::make_shared<MuteService*>(this)) {}

MuteService::~MuteService() {
    stop();
}

MuteService::Action MuteService::guarded(std::function<void(MuteService&)> action) {
    std::weak_ptr<MuteService*> weak = self_;
    return [weak, action = std::move(action)] {
        if (auto self = weak.lock()) action(**self);
    };
}

void MuteService::run() {
    start();
    // A login session's end sends SIGHUP. Each signal is ignored before its source is made, so that
    // one arriving during teardown cannot end the helper before its cleanup.
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        platform_.runLoop.ignoreSignal(signalNumber);
        signals_.push_back(platform_.runLoop.watchSignal(signalNumber, [this] { platform_.runLoop.stop(); }));
    }
    platform_.runLoop.run();
    stop();
}

void MuteService::start() {
    if (running_) throw TessalyError("Tessaly is already running.");
    const AudioPreference loaded =
        saver_.store().loadIfPresent().value_or(AudioPreference::defaultPreference());
    // Only the helper that owns the port may write the file: a running one may be saving it now.
    try {
        startStatusServer();
        // A helper that replaces another (a restart) silences Quick Look before anything else, to
        // keep the gap since the other one's taps went as short as it can be. A failure here is
        // met again, and reported, by the first refresh.
        if (loaded.isMuted() && platform_.accessibility.isProcessTrusted()) {
            try {
                guard_.set(true);
            } catch (const std::exception&) {
            }
        }
        saver_.store().save(loaded);
    } catch (...) {
        releaseGuardQuietly();
        statusServer_.close();
        throw;
    }
    saver_.adoptSaved(loaded);
    running_ = true;
    try {
        listen(kAudioHardwarePropertyProcessObjectList, [this] {
            if (!guard_.engaged()) return;
            try {
                guard_.reconcile();
            } catch (const std::exception& error) {
                fail(error.what());
            }
        });
        listen(kAudioHardwarePropertyServiceRestarted, [this] { rebuildGuard(); });
    } catch (...) {
        stop();
        throw;
    }

    controller_ = std::make_unique<PreviewController>(
        platform_.accessibility, platform_.workspace, platform_.runLoop, platform_.log,
        [weak = std::weak_ptr<MuteService*>(self_)](const AudioPreference& choice) {
            if (auto self = weak.lock()) (*self)->userChose(choice);
        },
        [weak = std::weak_ptr<MuteService*>(self_)](const std::string& notification) {
            if (auto self = weak.lock()) (*self)->requestRefresh(notification);
        },
        hostPIDs_.value_or(PreviewController::HostPIDs{}),
        // A pass can find a new window before its announcement arrives.
        [weak = std::weak_ptr<MuteService*>(self_)] {
            if (auto self = weak.lock()) (*self)->holdNewPreview();
        });
    pollInterval_ = idlePollInterval;
    pollTimer_ = platform_.runLoop.makeTimer(idlePollInterval, idlePollInterval, pollLeeway,
                                             guarded([](MuteService& service) { service.refresh(); }));
    refresh();
    platform_.log.write(logCategory, LogLevel::defaultLevel, "Quick Look audio memory is running.");
}

void MuteService::startStatusServer() {
    statusServer_.open(portName_, {[this] { return status(); }, [this] { return flush(); }});
}

std::optional<std::string> MuteService::flush() {
    saver_.save();
    if (!saver_.dirty()) return std::nullopt;
    return saver_.error().value_or("The latest audio choice could not be saved.");
}

void MuteService::listen(AudioObjectPropertySelector selector, Action action) {
    const AudioObjectPropertyAddress address{selector, kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    // Core Audio calls the block on the main queue; the action still runs as a task of its own,
    // never inside Core Audio's callback.
    auto block =
        makeListenerBlock([&runLoop = platform_.runLoop,
                           task = guarded([action](MuteService& service) {
                               if (service.running_) action();  // an event queued before a stop is stale
                           })](const std::vector<AudioObjectPropertyAddress>&) { runLoop.post(task); });
    const OSStatus status = platform_.audio.AudioObjectAddPropertyListenerBlock(
        kAudioObjectSystemObject, address, platform_.runLoop, block);
    if (status != 0) throw AudioHardwareError("Registering a Core Audio change listener", status);
    listeners_.emplace_back(selector, std::move(block));
}

void MuteService::refresh() {
    if (!running_ || !controller_) return;
    if (!platform_.accessibility.isProcessTrusted()) {
        reportPreviewError(untrustedMessage);
        momentary_.clear();
        hold_.clear();
        // The tracked previews stay: a change the user makes meanwhile is found, and kept, once
        // trust is back, instead of being restored over.
        controller_->removeObservers();
        choosePollInterval();
        return;
    }
    // Trust is back: the guard returns before the pass touches a preview.
    if (previewError_ == untrustedMessage) previewError_.reset();
    saver_.rewriteIfMissing();
    const std::size_t trackedBefore = controller_->tracked().size();
    try {
        if (!previewError_) applyGuard();
        controller_->synchronize(saver_.preference());
        previewError_.reset();
        momentary_.clear();
        passedOnce_ = true;
        hold_.passSucceeded(platform_.runLoop.now(), controller_->unrestoredWaiting());
        applyGuard();
    } catch (const std::exception& error) {
        passFailed(error);
    }
    // Also after a failed pass: a failed save is retried and the poll period follows the lists.
    if (controller_->tracked().size() < trackedBefore || saver_.error()) saver_.save();
    choosePollInterval();
}

void MuteService::passFailed(const std::exception& error) {
    const double now = platform_.runLoop.now();
    if (isMomentaryFailure(error)) {
        // The system failing for a moment: the guard stays as it is, the previews stay tracked,
        // and the next poll tries again soon.
        momentary_.record(now);
        // A helper that has not read the previews yet (a new login while Finder is slow) cannot
        // tell whether one plays unrestored: it holds them silent until it can, or the failure lasts.
        if (!momentary_.lasting(now)) {
            if (!passedOnce_) holdNewPreview();
            return;
        }
        // It lasts: Quick Look plays as it would without us while the status says why. The
        // previews stay tracked, so that what the user changes meanwhile is found later.
        hold_.clear();
        reportPreviewError(error.what());
        return;
    }
    // The player does not look as expected: silencing it would leave its controls lying.
    momentary_.clear();
    hold_.clear();
    reportPreviewError(error.what());
    resetController();
}

void MuteService::applyGuard() {
    guard_.set(saver_.preference().isMuted() || hold_.active(platform_.runLoop.now()));
}

void MuteService::rebuildGuard() {
    // The restarted audio server has dropped every tap. Building the guard again here keeps
    // Quick Look silent within moments; a new helper from launchd would come only after its
    // throttle, seconds in which a preview would play unguarded.
    releaseGuardQuietly();
    platform_.log.write(logCategory, LogLevel::defaultLevel,
                        "Core Audio restarted; rebuilding the audio guard.");
    if (previewError_) return;
    try {
        applyGuard();
    } catch (const std::exception& error) {
        platform_.log.write(logCategory, LogLevel::error, error.what());
        fail(restartedMessage);
    }
}

void MuteService::releaseGuardQuietly() {
    try {
        guard_.release();
    } catch (const std::exception&) {
        // Taps the audio server no longer has cannot be removed; they are forgotten all the same.
    }
}

void MuteService::choosePollInterval() {
    const bool busy = !controller_->waitingForControls().empty() ||
                      (controller_->usesPolling() && !controller_->tracked().empty()) ||
                      momentary_.active() || hold_.active(platform_.runLoop.now());
    const double interval = busy ? busyPollInterval : idlePollInterval;
    if (interval == pollInterval_) return;
    pollInterval_ = interval;
    if (pollTimer_) pollTimer_->reschedule(interval, interval, rescheduleLeeway);
}

void MuteService::resetController() {
    if (controller_) controller_->reset();
}

void MuteService::holdNewPreview() {
    if (saver_.preference().isMuted()) return;
    hold_.begin(platform_.runLoop.now(), announcedPreviewReason);
    if (previewError_) return;
    try {
        applyGuard();
    } catch (const std::exception&) {
        // The refresh that follows meets the failure again and reports it.
    }
}

void MuteService::requestRefresh(const std::string& notification) {
    if (!running_) return;
    // Silence now, before the queued refresh: the new player may already be playing.
    if (announcesNewPreview(notification)) holdNewPreview();
    if (!refreshQueued_) {
        refreshQueued_ = true;
        platform_.runLoop.post(guarded([](MuteService& service) {
            service.refreshQueued_ = false;
            service.refresh();
        }));
    }
    if (!announcesLayoutChange(notification)) return;
    for (double delay : followUpDelays) {
        const double due = platform_.runLoop.now() + delay;
        if (std::any_of(followUps_.begin(), followUps_.end(),
                        [due](double asked) { return std::abs(asked - due) <= followUpTolerance; }))
            continue;
        followUps_.push_back(due);
        platform_.runLoop.postAfter(delay, guarded([due](MuteService& service) {
                                        std::erase(service.followUps_, due);
                                        service.refresh();
                                    }));
    }
}

void MuteService::userChose(const AudioPreference& choice) {
    if (choice == saver_.preference()) return;
    saver_.adoptChanged(choice);
    try {
        applyGuard();
    } catch (const std::exception& error) {
        // This runs inside the controller's pass: end the process from a task of its own, once
        // the controller's frames have left the stack.
        platform_.runLoop.post(
            guarded([message = std::string(error.what())](MuteService& service) { service.fail(message); }));
    }
}

void MuteService::reportPreviewError(const std::string& message) {
    if (previewError_ != message) platform_.log.write(logCategory, LogLevel::error, message);
    previewError_ = message;
    try {
        guard_.release();
    } catch (const std::exception& error) {
        fail(error.what());
    }
}

void MuteService::fail(const std::string& description) {
    platform_.log.write(logCategory, LogLevel::error, description);
    stop();
    platform_.exitProcess(1);
    std::abort();  // exitProcess does not return
}

void MuteService::stop() {
    if (!running_) return;
    running_ = false;
    saver_.save();
    saver_.cancelDelayedSave();
    if (pollTimer_) pollTimer_->cancel();
    pollTimer_.reset();
    if (controller_) controller_->reset();
    controller_.reset();

    for (const auto& [selector, block] : listeners_) {
        const AudioObjectPropertyAddress address{selector, kAudioObjectPropertyScopeGlobal,
                                                 kAudioObjectPropertyElementMain};
        const OSStatus status = platform_.audio.AudioObjectRemovePropertyListenerBlock(
            kAudioObjectSystemObject, address, platform_.runLoop, block);
        if (status != 0) {
            platform_.log.write(logCategory, LogLevel::error,
                                "Removing an audio listener failed: " + std::to_string(status));
        }
    }
    listeners_.clear();
    for (auto& source : signals_) source->cancel();
    signals_.clear();
    statusServer_.close();
    hold_.clear();
    momentary_.clear();
    try {
        guard_.release();
    } catch (const std::exception& error) {
        platform_.log.write(logCategory, LogLevel::error,
                            std::string("Releasing the audio guard failed: ") + error.what());
    }
    platform_.log.write(logCategory, LogLevel::defaultLevel, "Quick Look audio memory has stopped.");
}

AudioStatus MuteService::status() {
    // During a run of momentary failures the previews' reads would wait on Finder again.
    if (!previewError_ && !momentary_.active() && controller_) controller_->validateLiveState();
    const double now = platform_.runLoop.now();
    // A hold that ran out since the last pass ends now, not at the next poll.
    if (running_ && !previewError_ && guard_.engaged() && !hold_.active(now)) applyGuard();
    AudioStatus status;
    status.version = std::string(version);
    status.pid = platform_.processID();
    status.mode = std::string(AudioStatus::rememberVolumeMode);
    status.accessibilityTrusted = platform_.accessibility.isProcessTrusted();
    if (controller_) {
        status.previewCount = static_cast<std::int64_t>(controller_->tracked().size());
        status.pendingControlCount = static_cast<std::int64_t>(controller_->waitingForControls().size());
        status.restorationCount = static_cast<std::int64_t>(controller_->restorationCount());
        status.userChangeCount = static_cast<std::int64_t>(controller_->userChangeCount());
    }
    const AudioPreference& preference = saver_.preference();
    status.volume = preference.volume();
    status.unmutedVolume = preference.unmutedVolume();
    status.pendingPreferenceWrite = saver_.dirty();
    status.muteGuard = guard_.status();
    if (status.muteGuard && !preference.isMuted()) status.previewHold = hold_.status(now);
    if (const std::size_t expired = hold_.expiredCount(now); expired > 0) {
        status.notice = "Quick Look previews that kept their controls hidden for " +
                        std::to_string(static_cast<int>(PreviewHold::limit)) +
                        " seconds play at their own volume: " + std::to_string(expired) + ".";
    }
    status.error = previewError_ ? previewError_ : saver_.error();
    status.muted = preference.isMuted();
    return status;
}

}  // namespace tessaly
