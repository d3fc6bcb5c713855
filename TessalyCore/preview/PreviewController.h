#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ports/Accessibility.h"
#include "ports/Log.h"
#include "ports/RunLoop.h"
#include "ports/Workspace.h"
#include "preference/AudioPreference.h"
#include "preview/PreviewContainer.h"
#include "preview/TrackedPreview.h"
#include "values/ProcessID.h"

namespace tessaly {

/// Keeps every open Quick Look preview in step with the remembered choice: each pass puts the
/// choice into previews it has not seen, and reports the user's own changes in those it tracks.
/// Between passes it listens to the hosts' Accessibility notifications so that its owner can run
/// the next pass soon. Main thread only; it writes no file and holds no timer.
class PreviewController {
public:
    using HostPIDs = std::function<std::vector<ProcessID>()>;
    using UserChoiceHandler = std::function<void(const AudioPreference&)>;
    using NotificationHandler = std::function<void(const std::string&)>;

    /// Hosts are the running Finder processes unless `hostPIDs` is given. `beforeRestoring` runs
    /// in a pass that found previews it has not seen, before it puts the choice into them: they
    /// may be playing at their players' own level.
    PreviewController(Accessibility& accessibility, Workspace& workspace, RunLoop& runLoop, Log& log,
                      UserChoiceHandler onUserChoice, NotificationHandler onNotification,
                      HostPIDs hostPIDs = {}, std::function<void()> beforeRestoring = {});
    /// Detaches the observers, so that no notification can reach a controller that is gone.
    ~PreviewController();
    PreviewController(const PreviewController&) = delete;
    PreviewController& operator=(const PreviewController&) = delete;

    /// One pass with the owner's current choice. A preview that closes under the pass is left out.
    /// On error nothing is undone: choices already reported stay reported, and the lists stay as
    /// the last pass left them.
    void synchronize(const AudioPreference& preference);
    /// Throws when a tracked preview shows a volume that no pass has seen yet.
    void validateLiveState() const;
    /// Detaches every observer from the main run loop and forgets them.
    void removeObservers();
    /// The owner's reset after a pass failed because a player did not look as expected: no
    /// observers, nothing tracked, awaited or observed, so that the next pass treats every preview
    /// as new.
    void reset();

    /// Previews recognised and in step after the last pass.
    const std::vector<TrackedPreview>& tracked() const { return tracked_; }
    /// Players found in the last pass whose controls were not exposed yet.
    const std::vector<PreviewContainer>& waitingForControls() const { return waitingForControls_; }
    /// Those of them that have never held the remembered choice: a player that hides its controls
    /// after a pass restored it keeps the level it was given.
    std::vector<PreviewContainer> unrestoredWaiting() const;
    /// Hosts whose observers are installed; empty while none are.
    const std::vector<ProcessID>& observedHosts() const { return observedHosts_; }
    /// Whether a host refused a notification since observers were last installed, so the owner must poll.
    bool usesPolling() const { return usesPolling_; }
    /// Previews the remembered choice was put into; only grows.
    std::uint64_t restorationCount() const { return restorationCount_; }
    /// User changes detected; only grows.
    std::uint64_t userChangeCount() const { return userChangeCount_; }

    /// The process ids of the running Finder processes, ascending.
    static std::vector<ProcessID> runningFinders(const Workspace& workspace);

private:
    /// The tracked preview after the user's change, if any; nothing when the window shows another
    /// file by now.
    std::optional<TrackedPreview> followUserChange(const NativePreview& preview, double lastVolume,
                                                   AudioPreference& working);
    /// Reports the level the user left in a preview as the new choice and makes it the working copy.
    TrackedPreview adoptUserLevel(const NativePreview& preview, double volume, AudioPreference& working);
    /// Mutes every kept preview that still sounds, through its own speaker button.
    void muteAudible(std::vector<TrackedPreview>& kept, const AudioPreference& mute);
    /// Runs one step of a pass; an element that vanished under it leaves that preview out.
    static void unlessVanished(const std::function<void()>& step);
    bool matchesLastPass(const std::vector<ProcessID>& hosts, const std::vector<TrackedPreview>& tracked,
                         const std::vector<PreviewContainer>& waiting) const;
    void installObservers(const std::vector<ProcessID>& hosts);
    void observe(const AXUIElement& element, const std::vector<std::string>& notifications);
    const AXObserverRef& observerFor(ProcessID pid);
    static void observerCallback(const AXObserverRef& observer, const AXUIElement& element,
                                 const std::string& notification, void* refcon);

    Accessibility& accessibility_;
    RunLoop& runLoop_;
    Log& log_;
    HostPIDs hostPIDs_;
    UserChoiceHandler onUserChoice_;
    NotificationHandler onNotification_;
    std::function<void()> beforeRestoring_;
    std::vector<TrackedPreview> tracked_;
    std::vector<PreviewContainer> waitingForControls_;
    /// The players, with the file each shows, that hold the choice a pass put in or found, among
    /// those the last pass saw.
    std::vector<PreviewContainer> restored_;
    std::vector<ProcessID> observedHosts_;
    std::map<ProcessID, AXObserverRef> observers_;
    /// One notification registered (or refused as unsupported) for one element.
    struct Registration {
        AXUIElement element;
        std::string notification;
        ProcessID pid;
        bool supported;
    };
    std::vector<Registration> registered_;
    /// The application element each host is observed through.
    std::map<ProcessID, AXUIElement> hostElements_;
    bool usesPolling_ = false;
    std::uint64_t restorationCount_ = 0;
    std::uint64_t userChangeCount_ = 0;
};

}  // namespace tessaly
