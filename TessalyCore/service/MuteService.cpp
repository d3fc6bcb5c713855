#include "service/MuteService.h"

#include <csignal>
#include <cstdlib>
#include <exception>
#include <set>

#include "foundation/AudioHardwareError.h"
#include "foundation/TessalyError.h"

namespace tessaly {

namespace {

constexpr const char* logCategory = "mute";
constexpr double idlePollInterval = 2.0;
constexpr double busyPollInterval = 0.25;
// How late the system may fire the poll timer, to save power; a rescheduled timer keeps closer time.
constexpr double pollLeeway = 0.2;
constexpr double rescheduleLeeway = 0.025;
constexpr double followUpDelays[] = {0.05, 0.2, 0.5};

const char* const untrustedMessage = "Open Tessaly and allow Accessibility to finish setup.";

// Notifications after which the window's controls are still settling, so one refresh is not enough.
bool announcesLayoutChange(const std::string& notification) {
    static const std::set<std::string> names = {
        "AXWindowCreated", "AXFocusedWindowChanged", "AXFocusedUIElementChanged",
        "AXLayoutChanged", "AXTitleChanged",         "AXUIElementDestroyed"};
    return names.count(notification) > 0;
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
        saver_.store().save(loaded);
    } catch (...) {
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
        listen(kAudioHardwarePropertyServiceRestarted,
               [this] { fail("Core Audio restarted; launchd must recreate the audio guard."); });
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
        hostPIDs_.value_or(PreviewController::HostPIDs{}));
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
        resetController();
        return;
    }
    const std::size_t trackedBefore = controller_->tracked().size();
    try {
        if (!previewError_) guard_.set(saver_.preference().isMuted());
        controller_->synchronize(saver_.preference());
        previewError_.reset();
        guard_.set(saver_.preference().isMuted());
    } catch (const std::exception& error) {
        reportPreviewError(error.what());
        resetController();
    }
    // Also after a failed pass: a failed save is retried and the poll period follows the lists.
    if (controller_->tracked().size() < trackedBefore || saver_.error()) saver_.save();
    choosePollInterval();
}

void MuteService::choosePollInterval() {
    const bool busy = !controller_->waitingForControls().empty() ||
                      (controller_->usesPolling() && !controller_->tracked().empty());
    const double interval = busy ? busyPollInterval : idlePollInterval;
    if (interval == pollInterval_) return;
    pollInterval_ = interval;
    if (pollTimer_) pollTimer_->reschedule(interval, interval, rescheduleLeeway);
}

void MuteService::resetController() {
    if (controller_) controller_->reset();
}

void MuteService::requestRefresh(const std::string& notification) {
    if (!running_) return;
    if (!refreshQueued_) {
        refreshQueued_ = true;
        platform_.runLoop.post(guarded([](MuteService& service) {
            service.refreshQueued_ = false;
            service.refresh();
        }));
    }
    if (!announcesLayoutChange(notification)) return;
    for (double delay : followUpDelays) {
        platform_.runLoop.postAfter(delay, guarded([](MuteService& service) { service.refresh(); }));
    }
}

void MuteService::userChose(const AudioPreference& choice) {
    if (choice == saver_.preference()) return;
    saver_.adoptChanged(choice);
    try {
        guard_.set(choice.isMuted());
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
    try {
        guard_.release();
    } catch (const std::exception& error) {
        platform_.log.write(logCategory, LogLevel::error,
                            std::string("Releasing the audio guard failed: ") + error.what());
    }
    platform_.log.write(logCategory, LogLevel::defaultLevel, "Quick Look audio memory has stopped.");
}

AudioStatus MuteService::status() {
    if (!previewError_ && controller_) controller_->validateLiveState();
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
    status.error = previewError_ ? previewError_ : saver_.error();
    status.muted = preference.isMuted();
    return status;
}

}  // namespace tessaly
