#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ports/Accessibility.h"
#include "ports/RunLoop.h"
#include "ports/Workspace.h"  // RunningApplication
#include "simulated/SimulatedElement.h"
#include "simulated/SimulatedPreview.h"
#include "simulated/SimulatedWrite.h"

namespace tessaly {

/// An in-memory desktop behind the Accessibility port: running applications, their windows, and
/// Quick Look players that behave as the real one is relied on to behave.
/// Pressing the speaker button toggles mute; while muted the volume slider reads 0; setting the
/// slider to a level above 0 plays at that level and unmutes. Notifications reach observers
/// through the run loop, never inside the call that caused them. Tests act as the user with
/// the verbs below and inject faults; trust is granted until revoked.
class SimulatedDesktop : public Accessibility {
public:
    /// The port calls whose status a test can force.
    enum class Call {
        setAttributeValue,
        isAttributeSettable,
        performAction,
        getPid,
        setMessagingTimeout,
        observerCreate,
        observerAddNotification,
    };

    explicit SimulatedDesktop(RunLoop& runLoop);
    /// A desktop asked only about trust: notifications have no run loop to reach observers by.
    SimulatedDesktop();
    ~SimulatedDesktop() override;
    SimulatedDesktop(const SimulatedDesktop&) = delete;
    SimulatedDesktop& operator=(const SimulatedDesktop&) = delete;

    // Accessibility
    bool isProcessTrusted() const override { return trusted_; }
    bool isProcessTrustedWithOptions(bool prompt) override;
    AXUIElement createApplication(ProcessID pid) override;
    AXError copyAttributeValue(const AXUIElement& element, const std::string& attribute,
                               std::optional<CFValue>& value) override;
    AXError setAttributeValue(const AXUIElement& element, const std::string& attribute,
                              const CFValue& value) override;
    AXError isAttributeSettable(const AXUIElement& element, const std::string& attribute,
                                bool& settable) override;
    AXError performAction(const AXUIElement& element, const std::string& action) override;
    AXError getPid(const AXUIElement& element, ProcessID& pid) override;
    AXError setMessagingTimeout(const AXUIElement& element, float seconds) override;
    AXError observerCreate(ProcessID pid, AXObserverCallback callback, AXObserverRef& observer) override;
    AXError observerAddNotification(const AXObserverRef& observer, const AXUIElement& element,
                                    const std::string& notification, void* refcon) override;
    AXError observerRemoveNotification(const AXObserverRef& observer, const AXUIElement& element,
                                       const std::string& notification) override;
    void observerAddToMainRunLoop(const AXObserverRef& observer) override;
    void observerRemoveFromMainRunLoop(const AXObserverRef& observer) override;

    /// The running applications with this bundle identifier, in launch order.
    std::vector<RunningApplication> runningApplications(const std::string& bundleIdentifier) const;

    /// Starts an application, with no windows.
    void launchApplication(const std::string& bundleIdentifier, ProcessID pid);
    /// Ends an application; its elements stop answering.
    void quitApplication(ProcessID pid);

    /// Opens a window without a player (a Finder browser window).
    AXUIElement openWindow(ProcessID host, const std::string& title);
    /// Opens a Quick Look preview window in `host`, as pressing Space on a file does.
    SimulatedPreview openPreview(ProcessID host, const SimulatedPreview::Setup& setup = {});
    /// Closes a window: it leaves the application's window list and its elements are destroyed.
    void closeWindow(const AXUIElement& window);
    /// Destroys a window's elements while the application still lists it, as when it closes
    /// between two calls; nothing is announced.
    void vanishWindow(const AXUIElement& window);
    /// Shows another file in the same preview window; the player starts it at full volume.
    void changeDocument(const SimulatedPreview& preview, std::optional<std::string> document,
                        std::optional<std::string> title);
    /// The player hides its controls (they leave its children but stay valid).
    void hideControls(const SimulatedPreview& preview);
    /// The player shows its controls again.
    void exposeControls(const SimulatedPreview& preview);
    /// The user drags the volume slider.
    void userMovesVolume(const SimulatedPreview& preview, double level);
    /// The user clicks the speaker button.
    void userPressesSpeaker(const SimulatedPreview& preview);

    /// What the user hears: the player's level, or 0 while it is muted.
    double outputLevel(const SimulatedPreview& preview) const;
    /// The level the player plays at when not muted.
    double playerLevel(const SimulatedPreview& preview) const;
    bool isMuted(const SimulatedPreview& preview) const;

    /// Adds an element under `parent` (at the end unless `position` is given).
    AXUIElement addElement(const AXUIElement& parent, const std::string& role,
                           const CFDictionary& attributes = {},
                           std::optional<std::size_t> position = std::nullopt);
    /// Destroys an element and everything under it, announcing it.
    void removeElement(const AXUIElement& element);
    /// Moves an element to another parent (at the end unless `position` is given).
    void moveElement(const AXUIElement& element, const AXUIElement& parent,
                     std::optional<std::size_t> position = std::nullopt);
    /// Puts a new group where `element` stood, with `element` inside it.
    AXUIElement wrapInGroup(const AXUIElement& element);
    /// The element's parent.
    AXUIElement parentOf(const AXUIElement& element) const;
    /// Elements under `element`, hidden ones included.
    std::size_t descendantCount(const AXUIElement& element) const;
    /// Makes an attribute read answer success with `value` (none: a NULL value).
    void overrideAttribute(const AXUIElement& element, const std::string& attribute,
                           std::optional<CFValue> value);
    /// Makes an attribute read fail with `status` (kAXErrorSuccess ends that).
    void failAttribute(const AXUIElement& element, const std::string& attribute, AXError status);
    void setSettable(const AXUIElement& element, const std::string& attribute, bool settable);
    /// Runs `action` once, the next time the attribute is read, before the read is answered.
    void onRead(const AXUIElement& element, const std::string& attribute, std::function<void()> action);

    /// Makes every later `call` answer `status` (kAXErrorSuccess ends that).
    void failCall(Call call, AXError status);
    /// The application stops answering in time: its calls answer kAXErrorCannotComplete.
    void makeSlow(ProcessID pid, bool slow = true);
    /// The application answers each call `seconds` late: a call through an object whose messaging
    /// timeout (its own, else the system's) is shorter answers kAXErrorCannotComplete, the others are
    /// answered (at once: calls take no time here).
    void answerAfter(ProcessID pid, double seconds);
    /// The system's messaging timeout, for objects that were given none.
    static constexpr double defaultMessagingTimeout = 6.0;
    /// Registering `notification` answers kAXErrorNotificationUnsupported.
    void refuseNotification(const std::string& notification);
    /// AXObserverCreate succeeds without returning an observer.
    void createNoObservers(bool none = true) { createsNoObservers_ = none; }

    void revokeTrust() { trusted_ = false; }
    void grantTrust() { trusted_ = true; }
    /// How often the trust prompt was shown.
    int promptsShown() const { return promptsShown_; }

    /// Changes made through the port, in order.
    const std::vector<SimulatedWrite>& writes() const { return writes_; }
    void clearWrites() { writes_.clear(); }
    /// Notifications registered on `element` by observers attached to the run loop.
    std::vector<std::string> observedNotifications(const AXUIElement& element) const;
    /// Observers created so far.
    std::size_t observersCreated() const { return observersCreated_; }
    /// Observers alive and attached to the run loop.
    std::size_t liveObserverCount() const;
    /// The messaging timeout set on this object (an application object's own, not its element's).
    std::optional<float> messagingTimeout(const AXUIElement& element) const;
    /// How long a caller waits for an answer through this object: its timeout, else the system's.
    double callTimeout(const AXUIElement& element) const;
    /// The shortest messaging timeout set on an application object made for `pid`, if any.
    std::optional<float> applicationTimeout(ProcessID pid) const;

private:
    class Observer;
    struct Player {
        SimulatedPreview handles;
        double level;
        bool muted;
        double displayedVolume() const { return muted ? 0.0 : level; }
    };
    struct Application {
        ProcessID pid;
        std::string bundleIdentifier;
        std::uint64_t element;
        bool running;
    };
    // An object made by createApplication: its own messaging timeout, for its application's element.
    struct ApplicationObject {
        std::uint64_t element;
        std::optional<float> messagingTimeout;
    };
    struct ReadHook {
        std::uint64_t element;
        std::string attribute;
        std::function<void()> action;
    };

    // The element of the application running as `pid` (made for a pid nothing runs as).
    std::uint64_t applicationElement(ProcessID pid);
    // The element an identity names: its own, or that of the application object it is.
    std::uint64_t elementOf(const AXUIElement& element) const;
    std::uint64_t makeElement(ProcessID pid, const std::string& role, std::optional<std::uint64_t> parent);
    SimulatedElement& node(const AXUIElement& element);
    const SimulatedElement& node(const AXUIElement& element) const;
    AXError reach(const AXUIElement& element, SimulatedElement*& found);
    AXError storedOrComputed(const SimulatedElement& element, const std::string& attribute,
                             std::optional<CFValue>& value) const;
    CFArray childArray(const SimulatedElement& element) const;
    bool isRunning(ProcessID pid) const;
    std::optional<AXError> forcedStatus(Call call) const;
    std::shared_ptr<Observer> observerOf(const AXObserverRef& observer) const;
    void runReadHook(std::uint64_t element, const std::string& attribute);

    Player& playerOf(const SimulatedPreview& preview);
    const Player& playerOf(const SimulatedPreview& preview) const;
    Player* playerWithVolume(std::uint64_t element);
    Player* playerWithSpeaker(std::uint64_t element);
    void setPlayerLevel(Player& player, double level);
    void toggleMute(Player& player);
    void announceVolume(const Player& player, double before);

    void detach(std::uint64_t element);
    void destroy(std::uint64_t element, bool announceIt);
    void announce(std::uint64_t element, const std::string& notification);

    RunLoop* runLoop_ = nullptr;
    std::uint64_t nextIdentity_ = 1;
    std::map<std::uint64_t, SimulatedElement> elements_;
    std::vector<Application> applications_;
    std::map<ProcessID, std::uint64_t> ghostApplications_;
    std::map<std::uint64_t, ApplicationObject> applicationObjects_;
    std::map<std::uint64_t, Player> players_;
    std::vector<std::weak_ptr<Observer>> observers_;
    std::vector<ReadHook> readHooks_;
    std::map<Call, AXError> forcedStatuses_;
    std::map<ProcessID, double> slowProcesses_;
    std::set<std::string> refusedNotifications_;
    std::vector<SimulatedWrite> writes_;
    std::size_t observersCreated_ = 0;
    bool createsNoObservers_ = false;
    bool trusted_ = true;
    int promptsShown_ = 0;
};

}  // namespace tessaly
