#include "simulated/SimulatedDesktop.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace tessaly {

class SimulatedDesktop::Observer : public AXObserver {
public:
    struct Registration {
        std::uint64_t element;
        std::string notification;
        void* refcon;
    };

    Observer(ProcessID process, AXObserverCallback handler) : pid(process), callback(handler) {}

    const Registration* find(std::uint64_t element, const std::string& notification) const {
        auto found = std::find_if(registrations.begin(), registrations.end(), [&](const Registration& r) {
            return r.element == element && r.notification == notification;
        });
        return found == registrations.end() ? nullptr : &*found;
    }

    const ProcessID pid;
    const AXObserverCallback callback;
    bool inRunLoop = false;
    std::vector<Registration> registrations;
};

SimulatedDesktop::SimulatedDesktop(RunLoop& runLoop) : runLoop_(&runLoop) {}

SimulatedDesktop::SimulatedDesktop() = default;

SimulatedDesktop::~SimulatedDesktop() = default;

// Accessibility.

bool SimulatedDesktop::isProcessTrustedWithOptions(bool prompt) {
    if (prompt && !trusted_) ++promptsShown_;
    return trusted_;
}

AXUIElement SimulatedDesktop::createApplication(ProcessID pid) {
    const std::uint64_t object = nextIdentity_++;
    applicationObjects_.emplace(object, ApplicationObject{applicationElement(pid), std::nullopt});
    return AXUIElement(object);
}

AXError SimulatedDesktop::copyAttributeValue(const AXUIElement& element, const std::string& attribute,
                                             std::optional<CFValue>& value) {
    value.reset();
    runReadHook(elementOf(element), attribute);
    SimulatedElement* found = nullptr;
    if (AXError status = reach(element, found)) return status;
    if (auto failure = found->readFailures.find(attribute); failure != found->readFailures.end()) {
        return failure->second;
    }
    if (auto answer = found->overrides.find(attribute); answer != found->overrides.end()) {
        value = answer->second;
        return kAXErrorSuccess;
    }
    return storedOrComputed(*found, attribute, value);
}

AXError SimulatedDesktop::setAttributeValue(const AXUIElement& element, const std::string& attribute,
                                            const CFValue& value) {
    if (auto forced = forcedStatus(Call::setAttributeValue)) return *forced;
    SimulatedElement* found = nullptr;
    if (AXError status = reach(element, found)) return status;
    if (!found->settableAttributes.count(attribute)) return kAXErrorAttributeUnsupported;
    if (Player* player = attribute == "AXValue" ? playerWithVolume(found->identity) : nullptr) {
        if (!value.number() || !std::isfinite(*value.number())) return kAXErrorIllegalArgument;
        setPlayerLevel(*player, *value.number());
    } else {
        const bool changed = !(found->attributes[attribute] == std::optional<CFValue>(value));
        found->attributes[attribute] = value;
        if (changed && attribute == "AXValue") announce(found->identity, "AXValueChanged");
    }
    writes_.push_back({element, attribute, value});
    return kAXErrorSuccess;
}

AXError SimulatedDesktop::isAttributeSettable(const AXUIElement& element, const std::string& attribute,
                                              bool& settable) {
    settable = false;
    if (auto forced = forcedStatus(Call::isAttributeSettable)) return *forced;
    SimulatedElement* found = nullptr;
    if (AXError status = reach(element, found)) return status;
    std::optional<CFValue> ignored;
    if (!found->overrides.count(attribute) &&
        storedOrComputed(*found, attribute, ignored) == kAXErrorAttributeUnsupported) {
        return kAXErrorAttributeUnsupported;
    }
    settable = found->settableAttributes.count(attribute) > 0;
    return kAXErrorSuccess;
}

AXError SimulatedDesktop::performAction(const AXUIElement& element, const std::string& action) {
    if (auto forced = forcedStatus(Call::performAction)) return *forced;
    SimulatedElement* found = nullptr;
    if (AXError status = reach(element, found)) return status;
    if (!found->actions.count(action)) return kAXErrorActionUnsupported;
    if (Player* player = playerWithSpeaker(found->identity); player && action == "AXPress")
        toggleMute(*player);
    writes_.push_back({element, action, std::nullopt});
    return kAXErrorSuccess;
}

AXError SimulatedDesktop::getPid(const AXUIElement& element, ProcessID& pid) {
    if (auto forced = forcedStatus(Call::getPid)) return *forced;
    auto found = elements_.find(elementOf(element));
    if (found == elements_.end()) return kAXErrorInvalidUIElement;
    pid = found->second.pid;
    return kAXErrorSuccess;
}

AXError SimulatedDesktop::setMessagingTimeout(const AXUIElement& element, float seconds) {
    if (auto forced = forcedStatus(Call::setMessagingTimeout)) return *forced;
    auto found = elements_.find(elementOf(element));
    if (found == elements_.end()) return kAXErrorInvalidUIElement;
    if (!(seconds >= 0)) return kAXErrorIllegalArgument;
    // The timeout is the object's own, not that of other objects of the same element.
    auto object = applicationObjects_.find(element.identity());
    (object == applicationObjects_.end() ? found->second.messagingTimeout : object->second.messagingTimeout) =
        seconds;
    return kAXErrorSuccess;
}

AXError SimulatedDesktop::observerCreate(ProcessID pid, AXObserverCallback callback,
                                         AXObserverRef& observer) {
    observer.reset();
    if (auto forced = forcedStatus(Call::observerCreate)) return *forced;
    if (!callback) return kAXErrorIllegalArgument;
    if (createsNoObservers_) return kAXErrorSuccess;
    auto created = std::make_shared<Observer>(pid, callback);
    observers_.push_back(created);
    ++observersCreated_;
    observer = created;
    return kAXErrorSuccess;
}

AXError SimulatedDesktop::observerAddNotification(const AXObserverRef& observer, const AXUIElement& element,
                                                  const std::string& notification, void* refcon) {
    if (auto forced = forcedStatus(Call::observerAddNotification)) return *forced;
    auto simulated = observerOf(observer);
    if (!simulated) return kAXErrorInvalidUIElementObserver;
    SimulatedElement* found = nullptr;
    if (AXError status = reach(element, found)) return status;
    if (found->pid != simulated->pid) return kAXErrorIllegalArgument;
    if (refusedNotifications_.count(notification)) return kAXErrorNotificationUnsupported;
    if (simulated->find(found->identity, notification)) return kAXErrorNotificationAlreadyRegistered;
    simulated->registrations.push_back({found->identity, notification, refcon});
    return kAXErrorSuccess;
}

AXError SimulatedDesktop::observerRemoveNotification(const AXObserverRef& observer,
                                                     const AXUIElement& element,
                                                     const std::string& notification) {
    auto simulated = observerOf(observer);
    if (!simulated) return kAXErrorInvalidUIElementObserver;
    auto& registrations = simulated->registrations;
    auto found =
        std::find_if(registrations.begin(), registrations.end(), [&](const Observer::Registration& r) {
            return r.element == elementOf(element) && r.notification == notification;
        });
    if (found == registrations.end()) return kAXErrorNotificationNotRegistered;
    registrations.erase(found);
    return kAXErrorSuccess;
}

void SimulatedDesktop::observerAddToMainRunLoop(const AXObserverRef& observer) {
    if (auto simulated = observerOf(observer)) simulated->inRunLoop = true;
}

void SimulatedDesktop::observerRemoveFromMainRunLoop(const AXObserverRef& observer) {
    if (auto simulated = observerOf(observer)) simulated->inRunLoop = false;
}

// The simulated world.

std::vector<RunningApplication> SimulatedDesktop::runningApplications(
    const std::string& bundleIdentifier) const {
    std::vector<RunningApplication> result;
    for (const auto& application : applications_) {
        if (application.running && application.bundleIdentifier == bundleIdentifier) {
            result.push_back({application.pid, application.bundleIdentifier});
        }
    }
    return result;
}

void SimulatedDesktop::launchApplication(const std::string& bundleIdentifier, ProcessID pid) {
    if (isRunning(pid))
        throw std::logic_error("SimulatedDesktop: process " + std::to_string(pid) + " runs already");
    const std::uint64_t element = makeElement(pid, "AXApplication", std::nullopt);
    applications_.push_back({pid, bundleIdentifier, element, true});
}

void SimulatedDesktop::quitApplication(ProcessID pid) {
    for (auto& application : applications_) {
        if (application.pid != pid || !application.running) continue;
        application.running = false;
        destroy(application.element, false);
    }
    std::erase_if(players_, [pid](const auto& entry) { return entry.second.handles.host == pid; });
}

// The user's actions.

AXUIElement SimulatedDesktop::openWindow(ProcessID host, const std::string& title) {
    if (!isRunning(host))
        throw std::logic_error("SimulatedDesktop: no application runs as " + std::to_string(host));
    const AXUIElement window(makeElement(host, "AXWindow", applicationElement(host)));
    node(window).attributes = {{"AXTitle", CFValue(title)}, {"AXDocument", std::nullopt}};
    addElement(window, "AXButton", {{"AXSubrole", "AXCloseButton"}});
    addElement(window, "AXStaticText", {{"AXValue", CFValue(title)}});
    announce(window.identity(), "AXWindowCreated");
    announce(window.identity(), "AXFocusedWindowChanged");
    return window;
}

SimulatedPreview SimulatedDesktop::openPreview(ProcessID host, const SimulatedPreview::Setup& setup) {
    if (!isRunning(host))
        throw std::logic_error("SimulatedDesktop: no application runs as " + std::to_string(host));
    const AXUIElement window(makeElement(host, "AXWindow", applicationElement(host)));
    node(window).attributes = {{"AXTitle", setup.title}, {"AXDocument", setup.document}};
    addElement(window, "AXButton", {{"AXSubrole", "AXCloseButton"}});
    std::vector<AXUIElement> titleTexts;
    for (const auto& text : setup.titleTexts) {
        titleTexts.push_back(addElement(window, "AXStaticText", {{"AXValue", CFValue(text)}}));
    }
    const AXUIElement player = addElement(window, "AXImage");
    AXUIElement controls = player;
    for (int level = 0; level < setup.groupDepth; ++level) controls = addElement(controls, "AXGroup");
    const AXUIElement playButton = addElement(controls, "AXButton", {{"AXDescription", "Play"}});
    const AXUIElement timeline = addElement(controls, "AXSlider",
                                            {{"AXMinValue", 0.0},
                                             {"AXMaxValue", setup.duration},
                                             {"AXValue", 0.0},
                                             {"AXValueDescription", "0:00"}});
    const AXUIElement speaker = addElement(controls, "AXButton", {{"AXDescription", "Mute"}});
    const AXUIElement volume = addElement(controls, "AXSlider", {{"AXMinValue", 0.0}, {"AXMaxValue", 1.0}});
    node(playButton).actions = {"AXPress"};
    node(speaker).actions = {"AXPress"};
    node(timeline).settableAttributes = {"AXValue"};
    node(volume).settableAttributes = {"AXValue"};
    node(player).childrenHidden = !setup.controlsExposed;

    SimulatedPreview handles{host, window, player, playButton, timeline, speaker, volume, titleTexts};
    players_.emplace(player.identity(), Player{handles, std::clamp(setup.volume, 0.0, 1.0), setup.muted});
    announce(window.identity(), "AXWindowCreated");
    announce(window.identity(), "AXFocusedWindowChanged");
    announce(player.identity(), "AXFocusedUIElementChanged");
    return handles;
}

void SimulatedDesktop::closeWindow(const AXUIElement& window) {
    detach(window.identity());
    destroy(window.identity(), true);
    std::erase_if(players_, [&](const auto& entry) { return entry.second.handles.window == window; });
}

void SimulatedDesktop::vanishWindow(const AXUIElement& window) {
    destroy(window.identity(), false);
}

void SimulatedDesktop::changeDocument(const SimulatedPreview& preview, std::optional<std::string> document,
                                      std::optional<std::string> title) {
    Player& player = playerOf(preview);
    SimulatedElement& window = node(preview.window);
    window.attributes["AXDocument"] = document ? std::optional<CFValue>(*document) : std::nullopt;
    window.attributes["AXTitle"] = title ? std::optional<CFValue>(*title) : std::nullopt;
    announce(window.identity, "AXTitleChanged");
    for (const auto& text : preview.titleTexts) {
        node(text).attributes["AXValue"] = title ? std::optional<CFValue>(*title) : std::nullopt;
        announce(text.identity(), "AXValueChanged");
    }
    // Each file gets a new player item, which starts at full volume.
    const double before = player.displayedVolume();
    player.level = 1.0;
    player.muted = false;
    announceVolume(player, before);
}

void SimulatedDesktop::hideControls(const SimulatedPreview& preview) {
    node(preview.player).childrenHidden = true;
    announce(preview.player.identity(), "AXLayoutChanged");
    announce(preview.window.identity(), "AXLayoutChanged");
}

void SimulatedDesktop::exposeControls(const SimulatedPreview& preview) {
    node(preview.player).childrenHidden = false;
    announce(preview.player.identity(), "AXLayoutChanged");
    announce(preview.window.identity(), "AXLayoutChanged");
}

void SimulatedDesktop::userMovesVolume(const SimulatedPreview& preview, double level) {
    setPlayerLevel(playerOf(preview), level);
}

void SimulatedDesktop::userPressesSpeaker(const SimulatedPreview& preview) {
    toggleMute(playerOf(preview));
}

double SimulatedDesktop::outputLevel(const SimulatedPreview& preview) const {
    return playerOf(preview).displayedVolume();
}

double SimulatedDesktop::playerLevel(const SimulatedPreview& preview) const {
    return playerOf(preview).level;
}

bool SimulatedDesktop::isMuted(const SimulatedPreview& preview) const {
    return playerOf(preview).muted;
}

// Shaping the tree.

AXUIElement SimulatedDesktop::addElement(const AXUIElement& parent, const std::string& role,
                                         const CFDictionary& attributes,
                                         std::optional<std::size_t> position) {
    const std::uint64_t identity = makeElement(node(parent).pid, role, std::nullopt);
    SimulatedElement& added = elements_.at(identity);
    for (const auto& [name, value] : attributes) added.attributes[name] = value;
    moveElement(AXUIElement(identity), parent, position);
    return AXUIElement(identity);
}

void SimulatedDesktop::removeElement(const AXUIElement& element) {
    detach(element.identity());
    destroy(element.identity(), true);
}

void SimulatedDesktop::moveElement(const AXUIElement& element, const AXUIElement& parent,
                                   std::optional<std::size_t> position) {
    detach(element.identity());
    auto& children = node(parent).children;
    const std::size_t at = std::min(position.value_or(children.size()), children.size());
    children.insert(children.begin() + static_cast<std::ptrdiff_t>(at), element.identity());
    node(element).parent = parent.identity();
}

AXUIElement SimulatedDesktop::wrapInGroup(const AXUIElement& element) {
    const AXUIElement parent = parentOf(element);
    auto& siblings = node(parent).children;
    const auto at = static_cast<std::size_t>(std::find(siblings.begin(), siblings.end(), element.identity()) -
                                             siblings.begin());
    const AXUIElement group = addElement(parent, "AXGroup", {}, at);
    moveElement(element, group);
    return group;
}

AXUIElement SimulatedDesktop::parentOf(const AXUIElement& element) const {
    const auto& parent = node(element).parent;
    if (!parent) throw std::logic_error("SimulatedDesktop: the element has no parent");
    return AXUIElement(*parent);
}

std::size_t SimulatedDesktop::descendantCount(const AXUIElement& element) const {
    std::size_t count = 0;
    for (std::uint64_t child : node(element).children) count += 1 + descendantCount(AXUIElement(child));
    return count;
}

void SimulatedDesktop::overrideAttribute(const AXUIElement& element, const std::string& attribute,
                                         std::optional<CFValue> value) {
    node(element).overrides[attribute] = std::move(value);
}

void SimulatedDesktop::failAttribute(const AXUIElement& element, const std::string& attribute,
                                     AXError status) {
    auto& failures = node(element).readFailures;
    if (status == kAXErrorSuccess) {
        failures.erase(attribute);
    } else {
        failures[attribute] = status;
    }
}

void SimulatedDesktop::setSettable(const AXUIElement& element, const std::string& attribute, bool settable) {
    auto& attributes = node(element).settableAttributes;
    if (settable) {
        attributes.insert(attribute);
    } else {
        attributes.erase(attribute);
    }
}

void SimulatedDesktop::onRead(const AXUIElement& element, const std::string& attribute,
                              std::function<void()> action) {
    readHooks_.push_back({elementOf(element), attribute, std::move(action)});
}

// Faults and inspection.

void SimulatedDesktop::failCall(Call call, AXError status) {
    if (status == kAXErrorSuccess) {
        forcedStatuses_.erase(call);
    } else {
        forcedStatuses_[call] = status;
    }
}

void SimulatedDesktop::makeSlow(ProcessID pid, bool slow) {
    if (slow) {
        answerAfter(pid, std::numeric_limits<double>::infinity());
    } else {
        slowProcesses_.erase(pid);
    }
}

void SimulatedDesktop::answerAfter(ProcessID pid, double seconds) {
    slowProcesses_[pid] = seconds;
}

void SimulatedDesktop::refuseNotification(const std::string& notification) {
    refusedNotifications_.insert(notification);
}

std::vector<std::string> SimulatedDesktop::observedNotifications(const AXUIElement& element) const {
    std::vector<std::string> names;
    for (const auto& weak : observers_) {
        auto observer = weak.lock();
        if (!observer || !observer->inRunLoop) continue;
        for (const auto& registration : observer->registrations) {
            if (registration.element == elementOf(element)) names.push_back(registration.notification);
        }
    }
    return names;
}

std::size_t SimulatedDesktop::liveObserverCount() const {
    return static_cast<std::size_t>(std::count_if(observers_.begin(), observers_.end(), [](const auto& weak) {
        auto observer = weak.lock();
        return observer && observer->inRunLoop;
    }));
}

std::optional<float> SimulatedDesktop::messagingTimeout(const AXUIElement& element) const {
    auto object = applicationObjects_.find(element.identity());
    return object == applicationObjects_.end() ? node(element).messagingTimeout
                                               : object->second.messagingTimeout;
}

std::optional<float> SimulatedDesktop::applicationTimeout(ProcessID pid) const {
    std::optional<float> shortest;
    for (const auto& [identity, object] : applicationObjects_) {
        if (!object.messagingTimeout || *object.messagingTimeout <= 0) continue;
        if (elements_.at(object.element).pid != pid) continue;
        if (!shortest || *object.messagingTimeout < *shortest) shortest = object.messagingTimeout;
    }
    return shortest;
}

double SimulatedDesktop::callTimeout(const AXUIElement& element) const {
    const std::optional<float> own = messagingTimeout(element);
    return own && *own > 0 ? *own : defaultMessagingTimeout;
}

// Internals.

std::uint64_t SimulatedDesktop::makeElement(ProcessID pid, const std::string& role,
                                            std::optional<std::uint64_t> parent) {
    const std::uint64_t identity = nextIdentity_++;
    SimulatedElement& made = elements_[identity];
    made.identity = identity;
    made.pid = pid;
    made.role = role;
    if (parent) {
        made.parent = parent;
        elements_.at(*parent).children.push_back(identity);
    }
    return identity;
}

std::uint64_t SimulatedDesktop::applicationElement(ProcessID pid) {
    for (const auto& application : applications_) {
        if (application.pid == pid && application.running) return application.element;
    }
    // macOS makes an element for any pid; nothing answers behind it.
    auto ghost = ghostApplications_.find(pid);
    if (ghost == ghostApplications_.end()) {
        ghost = ghostApplications_.emplace(pid, makeElement(pid, "AXApplication", std::nullopt)).first;
    }
    return ghost->second;
}

std::uint64_t SimulatedDesktop::elementOf(const AXUIElement& element) const {
    auto object = applicationObjects_.find(element.identity());
    return object == applicationObjects_.end() ? element.identity() : object->second.element;
}

SimulatedElement& SimulatedDesktop::node(const AXUIElement& element) {
    auto found = elements_.find(elementOf(element));
    if (found == elements_.end()) throw std::logic_error("SimulatedDesktop: unknown element");
    return found->second;
}

const SimulatedElement& SimulatedDesktop::node(const AXUIElement& element) const {
    auto found = elements_.find(elementOf(element));
    if (found == elements_.end()) throw std::logic_error("SimulatedDesktop: unknown element");
    return found->second;
}

AXError SimulatedDesktop::reach(const AXUIElement& element, SimulatedElement*& found) {
    if (!trusted_) return kAXErrorAPIDisabled;
    auto known = elements_.find(elementOf(element));
    if (known == elements_.end()) return kAXErrorInvalidUIElement;
    found = &known->second;
    if (!isRunning(found->pid)) return kAXErrorCannotComplete;
    if (!found->alive) return kAXErrorInvalidUIElement;
    if (auto slow = slowProcesses_.find(found->pid); slow != slowProcesses_.end()) {
        if (callTimeout(element) < slow->second) return kAXErrorCannotComplete;
    }
    return kAXErrorSuccess;
}

AXError SimulatedDesktop::storedOrComputed(const SimulatedElement& element, const std::string& attribute,
                                           std::optional<CFValue>& value) const {
    if (attribute == "AXRole") {
        if (!element.role) return kAXErrorAttributeUnsupported;
        value = *element.role;
        return kAXErrorSuccess;
    }
    if (attribute == "AXChildren" || (attribute == "AXWindows" && element.role == "AXApplication")) {
        value = childArray(element);
        return kAXErrorSuccess;
    }
    if (attribute == "AXParent") {
        if (!element.parent) return kAXErrorNoValue;
        value = AXUIElement(*element.parent);
        return kAXErrorSuccess;
    }
    if (attribute == "AXValue") {
        for (const auto& [identity, player] : players_) {
            if (player.handles.volume.identity() != element.identity) continue;
            value = player.displayedVolume();
            return kAXErrorSuccess;
        }
    }
    auto stored = element.attributes.find(attribute);
    if (stored == element.attributes.end()) return kAXErrorAttributeUnsupported;
    if (!stored->second) return kAXErrorNoValue;
    value = stored->second;
    return kAXErrorSuccess;
}

CFArray SimulatedDesktop::childArray(const SimulatedElement& element) const {
    CFArray children;
    if (element.childrenHidden) return children;
    for (std::uint64_t child : element.children) children.emplace_back(AXUIElement(child));
    return children;
}

bool SimulatedDesktop::isRunning(ProcessID pid) const {
    return std::any_of(applications_.begin(), applications_.end(), [pid](const Application& application) {
        return application.pid == pid && application.running;
    });
}

std::optional<AXError> SimulatedDesktop::forcedStatus(Call call) const {
    auto forced = forcedStatuses_.find(call);
    if (forced == forcedStatuses_.end()) return std::nullopt;
    return forced->second;
}

std::shared_ptr<SimulatedDesktop::Observer> SimulatedDesktop::observerOf(
    const AXObserverRef& observer) const {
    return std::dynamic_pointer_cast<Observer>(observer);
}

void SimulatedDesktop::runReadHook(std::uint64_t element, const std::string& attribute) {
    auto hook = std::find_if(readHooks_.begin(), readHooks_.end(), [&](const ReadHook& candidate) {
        return candidate.element == element && candidate.attribute == attribute;
    });
    if (hook == readHooks_.end()) return;
    auto action = std::move(hook->action);
    readHooks_.erase(hook);
    action();
}

SimulatedDesktop::Player& SimulatedDesktop::playerOf(const SimulatedPreview& preview) {
    auto found = players_.find(preview.player.identity());
    if (found == players_.end()) throw std::logic_error("SimulatedDesktop: the preview is closed");
    return found->second;
}

const SimulatedDesktop::Player& SimulatedDesktop::playerOf(const SimulatedPreview& preview) const {
    auto found = players_.find(preview.player.identity());
    if (found == players_.end()) throw std::logic_error("SimulatedDesktop: the preview is closed");
    return found->second;
}

SimulatedDesktop::Player* SimulatedDesktop::playerWithVolume(std::uint64_t element) {
    for (auto& [identity, player] : players_) {
        if (player.handles.volume.identity() == element) return &player;
    }
    return nullptr;
}

SimulatedDesktop::Player* SimulatedDesktop::playerWithSpeaker(std::uint64_t element) {
    for (auto& [identity, player] : players_) {
        if (player.handles.speaker.identity() == element) return &player;
    }
    return nullptr;
}

void SimulatedDesktop::setPlayerLevel(Player& player, double level) {
    const double before = player.displayedVolume();
    player.level = std::clamp(level, 0.0, 1.0);
    if (player.level > 0) player.muted = false;
    announceVolume(player, before);
}

void SimulatedDesktop::toggleMute(Player& player) {
    const double before = player.displayedVolume();
    player.muted = !player.muted;
    announceVolume(player, before);
}

void SimulatedDesktop::announceVolume(const Player& player, double before) {
    if (player.displayedVolume() != before) announce(player.handles.volume.identity(), "AXValueChanged");
}

void SimulatedDesktop::detach(std::uint64_t element) {
    SimulatedElement& detached = elements_.at(element);
    if (!detached.parent) return;
    auto& siblings = elements_.at(*detached.parent).children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), element), siblings.end());
    detached.parent.reset();
}

void SimulatedDesktop::destroy(std::uint64_t element, bool announceIt) {
    SimulatedElement& destroyed = elements_.at(element);
    if (!destroyed.alive) return;
    if (announceIt) announce(element, "AXUIElementDestroyed");
    destroyed.alive = false;
    for (std::uint64_t child : destroyed.children) destroy(child, announceIt);
}

void SimulatedDesktop::announce(std::uint64_t element, const std::string& notification) {
    if (!runLoop_) return;  // no main run loop: no observer can be attached to one
    const SimulatedElement& subject = elements_.at(element);
    const std::uint64_t application = applicationElement(subject.pid);
    for (const auto& weak : observers_) {
        auto observer = weak.lock();
        if (!observer || observer->pid != subject.pid) continue;
        const auto* registration = observer->find(element, notification);
        if (!registration) registration = observer->find(application, notification);
        if (!registration) continue;
        // Delivered on a later turn of the run loop, and only while the observer is attached to it.
        runLoop_->post([weak, element, notification, refcon = registration->refcon] {
            auto live = weak.lock();
            if (!live || !live->inRunLoop) return;
            live->callback(live, AXUIElement(element), notification, refcon);
        });
    }
}

}  // namespace tessaly
