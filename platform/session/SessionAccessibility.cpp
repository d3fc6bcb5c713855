#include "session/SessionAccessibility.h"

namespace tessaly {

// A session's observer as the client holds it: the session's id for it, the callback, the context
// of each registration, and whether it is attached to the main run loop. Releasing the last
// reference releases the session's observer.
class SessionAccessibility::Observer : public AXObserver {
public:
    Observer(std::uint64_t sessionID, AXObserverCallback handler, std::weak_ptr<SessionConnection> link,
             std::weak_ptr<Observers> registry)
        : id(sessionID), callback(handler), connection_(std::move(link)), registry_(std::move(registry)) {}
    ~Observer() override {
        if (auto observers = registry_.lock()) {
            std::lock_guard lock(observers->mutex);
            observers->live.erase(id);
        }
        if (auto live = connection_.lock())
            live->send(SessionProtocol::axObserverRelease, SessionFrame::Writer().u64(id));
    }

    const std::uint64_t id;
    const AXObserverCallback callback;
    // Touched on the main thread only. A registration's context outlives its removal, as a
    // notification already on its way still carries it.
    bool inRunLoop = false;
    std::map<std::uint64_t, void*> refcons;
    std::uint64_t nextRegistration = 1;

private:
    const std::weak_ptr<SessionConnection> connection_;
    const std::weak_ptr<Observers> registry_;
};

SessionAccessibility::SessionAccessibility(std::shared_ptr<SessionConnection> connection,
                                           RunLoop* mainRunLoop)
    : connection_(std::move(connection)), observers_(std::make_shared<Observers>()) {
    if (!mainRunLoop) return;
    std::weak_ptr<Observers> weak = observers_;
    RunLoop* loop = mainRunLoop;
    connection_->onEvent(SessionProtocol::axNotification, [weak, loop](SessionFrame::Reader& fields) {
        const std::uint64_t id = fields.u64();
        const std::uint64_t registration = fields.u64();
        const AXUIElement element(fields.u64());
        std::string notification = fields.text();
        fields.finish();
        auto observers = weak.lock();
        if (!observers) return;
        std::weak_ptr<Observer> target;
        {
            std::lock_guard lock(observers->mutex);
            auto found = observers->live.find(id);
            if (found == observers->live.end()) return;
            target = found->second;
        }
        loop->post([target, registration, element, notification] {
            auto observer = target.lock();
            if (!observer || !observer->inRunLoop) return;
            auto refcon = observer->refcons.find(registration);
            observer->callback(observer, element, notification,
                               refcon == observer->refcons.end() ? nullptr : refcon->second);
        });
    });
}

SessionAccessibility::~SessionAccessibility() {
    std::lock_guard lock(observers_->mutex);
    observers_->live.clear();
}

std::optional<std::string> SessionAccessibility::call(SessionProtocol::Operation operation,
                                                      const SessionFrame::Writer& arguments) const {
    return connection_->call(operation, arguments);
}

AXError SessionAccessibility::statusOf(const std::optional<std::string>& reply) {
    if (!reply) return kAXErrorCannotComplete;
    return static_cast<AXError>(SessionFrame::Reader(*reply).i32());
}

bool SessionAccessibility::isProcessTrusted() const {
    const auto reply = call(SessionProtocol::axIsProcessTrusted, {});
    return reply && SessionFrame::Reader(*reply).boolean();
}

bool SessionAccessibility::isProcessTrustedWithOptions(bool prompt) {
    const auto reply =
        call(SessionProtocol::axIsProcessTrustedWithOptions, SessionFrame::Writer().boolean(prompt));
    return reply && SessionFrame::Reader(*reply).boolean();
}

AXUIElement SessionAccessibility::createApplication(ProcessID pid) {
    const auto reply = call(SessionProtocol::axCreateApplication, SessionFrame::Writer().i32(pid));
    // Without a session the element is one that nothing answers behind.
    return AXUIElement(reply ? SessionFrame::Reader(*reply).u64() : 0);
}

AXError SessionAccessibility::copyAttributeValue(const AXUIElement& element, const std::string& attribute,
                                                 std::optional<CFValue>& value) {
    value.reset();
    const auto reply = call(SessionProtocol::axCopyAttributeValue,
                            SessionFrame::Writer().u64(element.identity()).text(attribute));
    if (!reply) return kAXErrorCannotComplete;
    SessionFrame::Reader fields(*reply);
    const auto status = static_cast<AXError>(fields.i32());
    value = fields.optionalValue();
    return status;
}

AXError SessionAccessibility::setAttributeValue(const AXUIElement& element, const std::string& attribute,
                                                const CFValue& value) {
    return statusOf(call(SessionProtocol::axSetAttributeValue,
                         SessionFrame::Writer().u64(element.identity()).text(attribute).value(value)));
}

AXError SessionAccessibility::isAttributeSettable(const AXUIElement& element, const std::string& attribute,
                                                  bool& settable) {
    const auto reply = call(SessionProtocol::axIsAttributeSettable,
                            SessionFrame::Writer().u64(element.identity()).text(attribute));
    if (!reply) return kAXErrorCannotComplete;
    SessionFrame::Reader fields(*reply);
    const auto status = static_cast<AXError>(fields.i32());
    settable = fields.boolean();
    return status;
}

AXError SessionAccessibility::performAction(const AXUIElement& element, const std::string& action) {
    return statusOf(
        call(SessionProtocol::axPerformAction, SessionFrame::Writer().u64(element.identity()).text(action)));
}

AXError SessionAccessibility::getPid(const AXUIElement& element, ProcessID& pid) {
    const auto reply = call(SessionProtocol::axGetPid, SessionFrame::Writer().u64(element.identity()));
    if (!reply) return kAXErrorCannotComplete;
    SessionFrame::Reader fields(*reply);
    const auto status = static_cast<AXError>(fields.i32());
    pid = fields.i32();
    return status;
}

AXError SessionAccessibility::setMessagingTimeout(const AXUIElement& element, float seconds) {
    return statusOf(call(SessionProtocol::axSetMessagingTimeout,
                         SessionFrame::Writer().u64(element.identity()).f64(seconds)));
}

AXError SessionAccessibility::observerCreate(ProcessID pid, AXObserverCallback callback,
                                             AXObserverRef& observer) {
    observer.reset();
    // The callback stays here; the session learns only whether there is one.
    const auto reply =
        call(SessionProtocol::axObserverCreate, SessionFrame::Writer().i32(pid).boolean(callback != nullptr));
    if (!reply) return kAXErrorCannotComplete;
    SessionFrame::Reader fields(*reply);
    const auto status = static_cast<AXError>(fields.i32());
    const std::uint64_t id = fields.u64();
    if (status != kAXErrorSuccess || id == 0) return status;
    auto created = std::make_shared<Observer>(id, callback, connection_, observers_);
    {
        std::lock_guard lock(observers_->mutex);
        observers_->live[id] = created;
    }
    observer = created;
    return status;
}

std::shared_ptr<SessionAccessibility::Observer> SessionAccessibility::sessionObserver(
    const AXObserverRef& observer) const {
    return std::dynamic_pointer_cast<Observer>(observer);
}

AXError SessionAccessibility::observerAddNotification(const AXObserverRef& observer,
                                                      const AXUIElement& element,
                                                      const std::string& notification, void* refcon) {
    auto ours = sessionObserver(observer);
    const std::uint64_t registration = ours ? ours->nextRegistration++ : 0;
    const auto status =
        statusOf(call(SessionProtocol::axObserverAddNotification, SessionFrame::Writer()
                                                                      .u64(ours ? ours->id : 0)
                                                                      .u64(registration)
                                                                      .u64(element.identity())
                                                                      .text(notification)));
    if (status == kAXErrorSuccess && ours) ours->refcons[registration] = refcon;
    return status;
}

AXError SessionAccessibility::observerRemoveNotification(const AXObserverRef& observer,
                                                         const AXUIElement& element,
                                                         const std::string& notification) {
    auto ours = sessionObserver(observer);
    return statusOf(
        call(SessionProtocol::axObserverRemoveNotification,
             SessionFrame::Writer().u64(ours ? ours->id : 0).u64(element.identity()).text(notification)));
}

void SessionAccessibility::observerAddToMainRunLoop(const AXObserverRef& observer) {
    auto ours = sessionObserver(observer);
    if (!ours) return;
    ours->inRunLoop = true;
    call(SessionProtocol::axObserverAddToRunLoop, SessionFrame::Writer().u64(ours->id));
}

void SessionAccessibility::observerRemoveFromMainRunLoop(const AXObserverRef& observer) {
    auto ours = sessionObserver(observer);
    if (!ours) return;
    // Pending notifications are dropped here too: delivery checks the flag on the main thread.
    ours->inRunLoop = false;
    call(SessionProtocol::axObserverRemoveFromRunLoop, SessionFrame::Writer().u64(ours->id));
}

}  // namespace tessaly
