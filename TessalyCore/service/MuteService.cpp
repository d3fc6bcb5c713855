#include "service/MuteService.h"

#include <algorithm>
#include <cassert>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <set>

#include "audio/AudioHardware.h"
#include "audio/MuteRule.h"
#include "foundation/AudioHardwareError.h"
#include "foundation/TessalyError.h"
#include "service/ServiceRequest.h"
#include "service/StatusReply.h"

namespace tessaly {

namespace {

constexpr const char* logCategory = "mute";
constexpr double idlePollInterval = 2.0;
constexpr double busyPollInterval = 0.25;
constexpr double saveDelay = 0.15;
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
      store_(std::move(store)),
      hostPIDs_(std::move(hostPIDs)),
      portName_(std::move(portName)),
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
    for (int signalNumber : {SIGTERM, SIGINT}) {
        signals_.push_back(platform_.runLoop.watchSignal(signalNumber, [this] { platform_.runLoop.stop(); }));
    }
    platform_.runLoop.run();
    stop();
}

void MuteService::start() {
    if (running_) throw TessalyError("Tessaly is already running.");
    preference_ = store_.loadIfPresent().value_or(AudioPreference::defaultPreference());
    store_.save(preference_);
    running_ = true;
    try {
        startStatusServer();
        listen(kAudioHardwarePropertyProcessObjectList, [this] {
            if (!bundleTap_) return;
            try {
                reconcile();
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
    pollTimer_ = platform_.runLoop.makeTimer(idlePollInterval, idlePollInterval,
                                             guarded([](MuteService& service) { service.refresh(); }));
    refresh();
    platform_.log.write(logCategory, LogLevel::defaultLevel, "Quick Look audio memory is running.");
}

void MuteService::startStatusServer() {
    auto creation = platform_.messagePorts.createLocal(
        portName_,
        [weak = std::weak_ptr<MuteService*>(self_)](std::int32_t messageID) -> std::optional<std::string> {
            auto self = weak.lock();
            if (!self) return std::nullopt;
            return (*self)->handleRequest(messageID);
        });
    if (!creation.port || creation.shouldFreeInfo) {
        throw TessalyError("Another Tessaly helper is already running, or its status port is unavailable.");
    }
    messagePort_ = std::move(creation.port);
    messageSource_ = messagePort_->createRunLoopSource();
    if (!messageSource_) throw TessalyError("Cannot create the local Tessaly status service.");
}

std::optional<std::string> MuteService::handleRequest(std::int32_t messageID) {
    assert(platform_.runLoop.isMainThread());
    switch (static_cast<ServiceRequest>(messageID)) {
        case ServiceRequest::status: try { return StatusReply{status(), std::nullopt}.encode();
            } catch (const std::exception& error) {
                platform_.log.write(logCategory, LogLevel::error,
                                    std::string("Status check failed: ") + error.what());
                return StatusReply{std::nullopt, std::string(error.what())}.encode();
            }
        case ServiceRequest::stop:
            platform_.runLoop.post([&runLoop = platform_.runLoop] { runLoop.stop(); });
            return std::string("stopping");
        case ServiceRequest::flush:
            savePreference();
            if (!preferenceDirty_) return std::string("flushed");
            return persistenceError_.value_or("The latest audio choice could not be saved.");
    }
    platform_.log.write(logCategory, LogLevel::error,
                        "Rejected an unknown local request: " + std::to_string(messageID) + ".");
    return std::nullopt;
}

void MuteService::listen(AudioObjectPropertySelector selector, Action action) {
    const AudioObjectPropertyAddress address{selector, kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    // Core Audio calls the block on the main queue; the action still runs as a task of its own,
    // never inside Core Audio's callback.
    auto block = makeListenerBlock(
        [&runLoop = platform_.runLoop, task = guarded([action](MuteService&) { action(); })](
            const std::vector<AudioObjectPropertyAddress>&) { runLoop.post(task); });
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
        if (!previewError_) setGuard(preference_.isMuted());
        controller_->synchronize(preference_);
        previewError_.reset();
        setGuard(preference_.isMuted());
    } catch (const std::exception& error) {
        reportPreviewError(error.what());
        resetController();
        return;
    }
    if (controller_->tracked().size() < trackedBefore || persistenceError_) savePreference();
    choosePollInterval();
}

void MuteService::choosePollInterval() {
    const bool busy = !controller_->waitingForControls().empty() ||
                      (controller_->usesPolling() && !controller_->tracked().empty());
    const double interval = busy ? busyPollInterval : idlePollInterval;
    if (interval == pollInterval_) return;
    pollInterval_ = interval;
    if (pollTimer_) pollTimer_->reschedule(interval, interval);
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
    if (choice == preference_) return;
    preference_ = choice;
    preferenceDirty_ = true;
    try {
        setGuard(choice.isMuted());
    } catch (const std::exception& error) {
        fail(error.what());
    }
    const std::uint64_t generation = ++saveGeneration_;
    platform_.runLoop.postAfter(saveDelay, guarded([generation](MuteService& service) {
                                    if (service.running_ && service.saveGeneration_ == generation) {
                                        service.savePreference();
                                    }
                                }));
}

void MuteService::setGuard(bool enabled) {
    if (!enabled) {
        releaseTaps();
        return;
    }
    if (bundleTap_) return;
    bundleTap_ = MuteTap::create(platform_.audio, platform_.log, MuteRule::bundleDescription());
    reconcile();
}

std::vector<AudioProcess> MuteService::reconcile() {
    if (!bundleTap_) throw TessalyError("The bundle mute tap has not been initialized.");
    auto processes = AudioHardware::matchingProcesses(platform_.audio);
    std::set<AudioObjectID> discovered;
    for (const auto& process : processes) {
        discovered.insert(process.id);
        if (processTaps_.count(process.id)) continue;
        processTaps_.emplace(process.id, MuteTap::create(platform_.audio, platform_.log,
                                                         MuteRule::processDescription(process.id)));
    }
    std::vector<AudioObjectID> gone;
    for (const auto& [id, tap] : processTaps_) {
        if (!discovered.count(id)) gone.push_back(id);
    }
    for (AudioObjectID id : gone) {
        auto entry = processTaps_.find(id);
        if (entry == processTaps_.end()) continue;
        if (auto failure = entry->second.remove(platform_.audio)) throw TessalyError(*failure);
        processTaps_.erase(entry);
    }
    return processes;
}

void MuteService::releaseTaps() {
    std::vector<MuteTap> taps;
    for (const auto& [id, tap] : processTaps_) taps.push_back(tap);
    if (bundleTap_) taps.push_back(*bundleTap_);
    // Forget them first: a tap that cannot be destroyed is not retried.
    processTaps_.clear();
    bundleTap_.reset();

    std::string failures;
    for (const auto& tap : taps) {
        if (auto failure = tap.remove(platform_.audio)) failures += (failures.empty() ? "" : " ") + *failure;
    }
    if (!failures.empty()) throw TessalyError(failures);
}

void MuteService::savePreference() {
    if (!preferenceDirty_) return;
    ++saveGeneration_;
    try {
        store_.save(preference_);
        preferenceDirty_ = false;
        persistenceError_.reset();
    } catch (const std::exception& error) {
        const std::string message =
            std::string("Cannot save the chosen Quick Look audio setting: ") + error.what();
        if (persistenceError_ != message) platform_.log.write(logCategory, LogLevel::error, message);
        persistenceError_ = message;
    }
}

void MuteService::reportPreviewError(const std::string& message) {
    if (previewError_ != message) platform_.log.write(logCategory, LogLevel::error, message);
    previewError_ = message;
    try {
        releaseTaps();
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
    savePreference();
    ++saveGeneration_;
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
    messageSource_.reset();
    if (messagePort_) messagePort_->invalidate();
    messagePort_.reset();
    try {
        releaseTaps();
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
    status.volume = preference_.volume();
    status.unmutedVolume = preference_.unmutedVolume();
    status.pendingPreferenceWrite = preferenceDirty_;
    status.muteGuard = guardStatus();
    status.error = previewError_ ? previewError_ : persistenceError_;
    status.muted = preference_.isMuted();
    return status;
}

std::optional<MuteStatus> MuteService::guardStatus() {
    if (!bundleTap_) {
        if (!processTaps_.empty()) throw TessalyError("Orphaned mute taps remain active.");
        return std::nullopt;
    }
    const auto processes = AudioHardware::matchingProcesses(platform_.audio);
    const CATapDescription bundle = bundleTap_->readDescription(platform_.audio);
    MuteRule::validateBundle(bundle);
    bundleTap_->validateAttachment(platform_.audio);
    for (const auto& [id, tap] : processTaps_) tap.validateAttachment(platform_.audio);
    for (const auto& process : processes) {
        if (!processTaps_.count(process.id)) {
            throw TessalyError("A new Quick Look process is not yet covered by the mute rule.");
        }
    }
    MuteStatus status;
    for (const auto& process : processes) {
        MuteRule::validateProcess(processTaps_.at(process.id).readDescription(platform_.audio), process.id);
        status.processIDs.push_back(process.id);
        status.previewPIDs.push_back(process.pid);
        if (process.isPlaying) ++status.activeProcessCount;
    }
    std::sort(status.previewPIDs.begin(), status.previewPIDs.end());
    status.version = std::string(version);
    status.pid = platform_.processID();
    status.bundleID = std::string(MuteRule::targetBundleID);
    status.tapID = bundleTap_->id;
    status.tapCount = static_cast<std::int64_t>(processTaps_.size()) + 1;
    status.attachmentCount = status.tapCount;
    status.muted = bundle.muteBehavior == CATapMuted;
    status.privateTap = bundle.isPrivate;
    status.restoresProcesses = bundle.isProcessRestoreEnabled;
    status.audioIOStarted = false;
    return status;
}

}  // namespace tessaly
