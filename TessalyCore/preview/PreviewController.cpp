#include "preview/PreviewController.h"

#include <algorithm>
#include <cassert>

#include "foundation/PreviewAccessibilityError.h"
#include "foundation/TessalyError.h"
#include "preview/NativePreview.h"
#include "preview/PreviewAX.h"
#include "preview/PreviewDiscovery.h"
#include "preview/PreviewFailure.h"
#include "preview/VolumeComparison.h"

namespace tessaly {

namespace {

const std::string finderBundleIdentifier = "com.apple.finder";

// What each kind of element is observed for.
const std::vector<std::string> hostNotifications = {"AXWindowCreated", "AXFocusedWindowChanged",
                                                    "AXFocusedUIElementChanged"};
const std::vector<std::string> trackedWindowNotifications = {"AXTitleChanged", "AXUIElementDestroyed"};
const std::vector<std::string> volumeSliderNotifications = {"AXValueChanged", "AXUIElementDestroyed"};
const std::vector<std::string> titleElementNotifications = {"AXValueChanged", "AXUIElementDestroyed"};
const std::vector<std::string> waitingWindowNotifications = {"AXTitleChanged", "AXLayoutChanged",
                                                             "AXUIElementDestroyed"};
const std::vector<std::string> waitingPlayerNotifications = {"AXValueChanged", "AXLayoutChanged",
                                                             "AXUIElementDestroyed"};

PreviewContainer containerOf(const NativePreview& preview) {
    return {preview.hostPID, preview.window, preview.player, preview.document};
}

bool isTrackedAmong(const TrackedPreview& entry, const std::vector<TrackedPreview>& tracked) {
    return std::any_of(tracked.begin(), tracked.end(), [&](const TrackedPreview& other) {
        return entry.preview.isSamePreview(other.preview);
    });
}

}  // namespace

PreviewController::PreviewController(Accessibility& accessibility, Workspace& workspace, RunLoop& runLoop,
                                     Log& log, UserChoiceHandler onUserChoice,
                                     NotificationHandler onNotification, HostPIDs hostPIDs,
                                     std::function<void()> beforeRestoring)
    : accessibility_(accessibility),
      runLoop_(runLoop),
      log_(log),
      hostPIDs_(hostPIDs ? std::move(hostPIDs)
                         : HostPIDs([&workspace] { return runningFinders(workspace); })),
      onUserChoice_(std::move(onUserChoice)),
      onNotification_(std::move(onNotification)),
      beforeRestoring_(std::move(beforeRestoring)) {}

PreviewController::~PreviewController() {
    removeObservers();
}

std::vector<ProcessID> PreviewController::runningFinders(const Workspace& workspace) {
    std::vector<ProcessID> pids;
    for (const auto& application : workspace.runningApplications(finderBundleIdentifier)) {
        if (application.bundleIdentifier == finderBundleIdentifier)
            pids.push_back(application.processIdentifier);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

void PreviewController::synchronize(const AudioPreference& preference) {
    assert(runLoop_.isMainThread());
    const std::vector<ProcessID> hosts = hostPIDs_();
    std::vector<NativePreview> scanned;
    std::vector<PreviewContainer> waiting;
    for (ProcessID host : hosts) {
        PreviewDiscovery discovery = NativePreview::scan(accessibility_, host);
        std::move(discovery.previews.begin(), discovery.previews.end(), std::back_inserter(scanned));
        std::move(discovery.waitingForControls.begin(), discovery.waitingForControls.end(),
                  std::back_inserter(waiting));
    }

    // A user change in one preview is what the new previews of the same pass receive. A preview
    // whose window closes while the pass reads it is left out, as the scan leaves out its window.
    AudioPreference working = preference;
    const bool wasMuted = preference.isMuted();  // the owner's choice may change during the pass
    std::vector<TrackedPreview> kept;
    std::vector<const NativePreview*> fresh;
    for (const NativePreview& preview : scanned) {
        auto entry = std::find_if(tracked_.begin(), tracked_.end(), [&](const TrackedPreview& known) {
            return known.preview.isSamePreview(preview);
        });
        if (entry == tracked_.end()) {
            fresh.push_back(&preview);
            continue;
        }
        unlessVanished([&] {
            if (auto followed = followUserChange(preview, entry->lastVolume, working))
                kept.push_back(std::move(*followed));
        });
    }
    if (!fresh.empty() && beforeRestoring_) beforeRestoring_();
    for (const NativePreview* preview : fresh) {
        unlessVanished([&] {
            const NativePreview::Restoration restoration = preview->restore(accessibility_, working);
            if (restoration.replaced) return;  // the next pass restores the file shown now
            if (restoration.userChanged) {
                kept.push_back(adoptUserLevel(*preview, restoration.volume, working));
                return;
            }
            ++restorationCount_;
            kept.push_back({*preview, restoration.volume});
        });
    }
    // The guard now silences every preview: the others' controls must say so too.
    if (working.isMuted() && !wasMuted) muteAudible(kept, working);

    const bool unchanged = matchesLastPass(hosts, kept, waiting);
    std::vector<PreviewContainer> restored;
    for (const TrackedPreview& entry : kept) restored.push_back(containerOf(entry.preview));
    for (const PreviewContainer& container : waiting) {
        if (std::find(restored_.begin(), restored_.end(), container) != restored_.end())
            restored.push_back(container);
    }
    restored_ = std::move(restored);
    tracked_ = std::move(kept);
    waitingForControls_ = std::move(waiting);
    if (!unchanged) installObservers(hosts);
}

std::vector<PreviewContainer> PreviewController::unrestoredWaiting() const {
    std::vector<PreviewContainer> unrestored;
    for (const PreviewContainer& container : waitingForControls_) {
        if (std::find(restored_.begin(), restored_.end(), container) == restored_.end())
            unrestored.push_back(container);
    }
    return unrestored;
}

void PreviewController::unlessVanished(const std::function<void()>& step) {
    try {
        step();
    } catch (const PreviewAccessibilityError& error) {
        if (!isVanishedElement(error)) throw;
    }
}

std::optional<TrackedPreview> PreviewController::followUserChange(const NativePreview& preview,
                                                                  double lastVolume,
                                                                  AudioPreference& working) {
    const double volume = preview.readVolume(accessibility_);
    if (sameVolume(volume, lastVolume)) return TrackedPreview{preview, volume};
    // Another file shown since the scan read the window starts at its player's own level: that is
    // a new preview for the next pass, not the user's change.
    if (!preview.stillShowsItsFile(accessibility_)) return std::nullopt;
    return adoptUserLevel(preview, volume, working);
}

TrackedPreview PreviewController::adoptUserLevel(const NativePreview& preview, double volume,
                                                 AudioPreference& working) {
    const AudioPreference choice =
        AudioPreference::make(volume, volume > 0 ? volume : working.unmutedVolume());
    ++userChangeCount_;
    onUserChoice_(choice);
    working = choice;
    if (!choice.isMuted()) return {preview, volume};
    // A slider dragged to 0 is a mute too; muting from the audible level lets unmuting return to it.
    return {preview, preview.restore(accessibility_, choice).volume};
}

void PreviewController::muteAudible(std::vector<TrackedPreview>& kept, const AudioPreference& mute) {
    std::vector<TrackedPreview> muted;
    for (TrackedPreview& entry : kept) {
        if (entry.lastVolume == 0) {
            muted.push_back(std::move(entry));
            continue;
        }
        unlessVanished([&] {
            entry.lastVolume = entry.preview.restore(accessibility_, mute).volume;
            ++restorationCount_;
            muted.push_back(std::move(entry));
        });
    }
    kept = std::move(muted);
}

bool PreviewController::matchesLastPass(const std::vector<ProcessID>& hosts,
                                        const std::vector<TrackedPreview>& tracked,
                                        const std::vector<PreviewContainer>& waiting) const {
    if (hosts != observedHosts_) return false;
    if (tracked.size() != tracked_.size() || waiting.size() != waitingForControls_.size()) return false;
    for (const auto& entry : tracked) {
        if (!isTrackedAmong(entry, tracked_)) return false;
    }
    for (const auto& container : waiting) {
        if (std::find(waitingForControls_.begin(), waitingForControls_.end(), container) ==
            waitingForControls_.end()) {
            return false;
        }
    }
    return true;
}

void PreviewController::installObservers(const std::vector<ProcessID>& hosts) {
    observedHosts_.clear();  // until every registration is in place, the next pass tries again
    // The elements to observe now, each for its notifications.
    std::vector<std::pair<AXUIElement, const std::vector<std::string>*>> wanted;
    std::erase_if(hostElements_, [&](const auto& entry) {
        return std::find(hosts.begin(), hosts.end(), entry.first) == hosts.end();
    });
    for (ProcessID host : hosts) {
        // Observing needs no answer from the host, so its element keeps the default timeout; it is
        // made once, so that its registrations stay across passes.
        auto known = hostElements_.find(host);
        if (known == hostElements_.end())
            known = hostElements_.emplace(host, accessibility_.createApplication(host)).first;
        wanted.emplace_back(known->second, &hostNotifications);
    }
    for (const auto& entry : tracked_) {
        wanted.emplace_back(entry.preview.window, &trackedWindowNotifications);
        wanted.emplace_back(entry.preview.volume, &volumeSliderNotifications);
        for (const auto& titleElement : entry.preview.titleElements)
            wanted.emplace_back(titleElement, &titleElementNotifications);
    }
    for (const auto& container : waitingForControls_) {
        wanted.emplace_back(container.window, &waitingWindowNotifications);
        wanted.emplace_back(container.player, &waitingPlayerNotifications);
    }
    // Registrations are changed one by one, never all removed and made again: a window announced
    // while a pass changes them is still heard.
    std::vector<Registration> kept;
    for (const Registration& registration : registered_) {
        const bool stillWanted = std::any_of(wanted.begin(), wanted.end(), [&](const auto& entry) {
            return entry.first == registration.element &&
                   std::find(entry.second->begin(), entry.second->end(), registration.notification) !=
                       entry.second->end();
        });
        if (stillWanted) {
            kept.push_back(registration);
        } else if (registration.supported) {
            // An element that is gone has no registration left to remove.
            accessibility_.observerRemoveNotification(observerFor(registration.pid), registration.element,
                                                      registration.notification);
        }
    }
    registered_ = std::move(kept);
    for (const auto& [element, notifications] : wanted) observe(element, *notifications);
    // An observer no registration uses any more leaves the run loop.
    std::erase_if(observers_, [&](const auto& entry) {
        const bool used =
            std::any_of(registered_.begin(), registered_.end(),
                        [&](const Registration& registration) { return registration.pid == entry.first; });
        if (!used) accessibility_.observerRemoveFromMainRunLoop(entry.second);
        return !used;
    });
    usesPolling_ = std::any_of(registered_.begin(), registered_.end(),
                               [](const Registration& registration) { return !registration.supported; });
    observedHosts_ = hosts;
}

void PreviewController::observe(const AXUIElement& element, const std::vector<std::string>& notifications) {
    auto registered = [&](const std::string& name) {
        return std::any_of(registered_.begin(), registered_.end(), [&](const Registration& registration) {
            return registration.element == element && registration.notification == name;
        });
    };
    if (std::all_of(notifications.begin(), notifications.end(), registered)) return;
    ProcessID pid = 0;
    const AXError pidStatus = accessibility_.getPid(element, pid);
    // An element that closed since the scan needs no observing; the next pass no longer finds it.
    if (pidStatus == kAXErrorInvalidUIElement) return;
    if (pidStatus != kAXErrorSuccess) {
        throw PreviewAccessibilityError("Identifying the preview control's process", pidStatus);
    }
    const AXObserverRef& observer = observerFor(pid);
    for (const std::string& name : notifications) {
        if (registered(name)) continue;
        const AXError status = accessibility_.observerAddNotification(observer, element, name, this);
        if (status == kAXErrorSuccess || status == kAXErrorNotificationAlreadyRegistered) {
            registered_.push_back({element, name, pid, true});
            continue;
        }
        if (status == kAXErrorInvalidUIElement) return;
        if (status != kAXErrorNotificationUnsupported)
            throw PreviewAccessibilityError("Observing " + name, status);
        registered_.push_back({element, name, pid, false});
        log_.write("preview", LogLevel::defaultLevel,
                   "Preview notification " + name + " is unavailable; using periodic observation.");
    }
}

const AXObserverRef& PreviewController::observerFor(ProcessID pid) {
    if (auto known = observers_.find(pid); known != observers_.end()) return known->second;
    AXObserverRef observer;
    const AXError status = accessibility_.observerCreate(pid, &PreviewController::observerCallback, observer);
    if (status != kAXErrorSuccess) throw PreviewAccessibilityError("Creating the preview observer", status);
    if (!observer) throw TessalyError("macOS did not create the preview observer.");
    const AXObserverRef& stored = observers_.emplace(pid, std::move(observer)).first->second;
    accessibility_.observerAddToMainRunLoop(stored);
    return stored;
}

void PreviewController::observerCallback(const AXObserverRef&, const AXUIElement&,
                                         const std::string& notification, void* refcon) {
    if (!refcon) return;
    // Only tell the owner: a pass never runs inside a notification.
    static_cast<PreviewController*>(refcon)->onNotification_(notification);
}

void PreviewController::removeObservers() {
    for (const auto& [pid, observer] : observers_) accessibility_.observerRemoveFromMainRunLoop(observer);
    observers_.clear();
    registered_.clear();
    hostElements_.clear();
    // With no observer left nothing is observed; the next pass must install them again.
    observedHosts_.clear();
}

void PreviewController::reset() {
    removeObservers();
    tracked_.clear();
    waitingForControls_.clear();
    restored_.clear();
}

void PreviewController::validateLiveState() const {
    assert(runLoop_.isMainThread());
    const PreviewAX ax(accessibility_);
    for (const auto& entry : tracked_) {
        std::optional<double> volume;
        try {
            volume = ax.number(entry.preview.volume, "AXValue");
        } catch (const PreviewAccessibilityError& error) {
            // A preview that closed holds no unobserved choice; the next pass forgets it.
            if (error.code() == kAXErrorInvalidUIElement) continue;
            throw;
        }
        if (!volume) throw TessalyError("The native preview volume is unavailable.");
        if (*volume < 0 || *volume > 1) {
            throw TessalyError("Quick Look volume must be a finite number from zero to one.");
        }
        if (!sameVolume(*volume, entry.lastVolume)) {
            throw TessalyError("A native preview audio change is still awaiting observation.");
        }
    }
}

}  // namespace tessaly
