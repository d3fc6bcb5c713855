#include "mac/MacAccessibility.h"

#include <ApplicationServices/ApplicationServices.h>

#include <list>
#include <map>
#include <memory>
#include <utility>

#include "mac/CFConversion.h"
#include "mac/CFReference.h"

namespace tessaly {

namespace {

AXError portStatus(::AXError status) {
    return static_cast<AXError>(static_cast<std::int32_t>(status));
}

CFReference text(const std::string& value) {
    return CFConversion::create(CFValue(value), nullptr);
}

}  // namespace

/// One AXObserverRef. Each registration gives the system a context of its own that stays valid
/// while the observer lives; a delivery for a registration removed meanwhile is dropped.
class MacAccessibility::Observer : public AXObserver, public std::enable_shared_from_this<Observer> {
public:
    struct Registration {
        Observer* owner;
        void* refcon;
        bool removed = false;
    };

    Observer(MacElementTable& elements, AXObserverCallback callback, CFReference observer)
        : elements_(elements), callback_(callback), observer_(std::move(observer)) {}
    ~Observer() override {
        removeFromMainRunLoop();
        for (const auto& [key, registration] : active_) elements_.unpin(AXUIElement(key.first));
    }
    Observer(const Observer&) = delete;
    Observer& operator=(const Observer&) = delete;

    ::AXObserverRef get() const { return const_cast<::AXObserverRef>(observer_.as<const __AXObserver*>()); }

    void addToMainRunLoop() {
        CFRunLoopAddSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(get()), kCFRunLoopCommonModes);
        inRunLoop_ = true;
    }
    void removeFromMainRunLoop() {
        if (!inRunLoop_) return;
        CFRunLoopRemoveSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(get()), kCFRunLoopCommonModes);
        inRunLoop_ = false;
    }

    /// A context for a new registration (kept until the observer ends).
    Registration* context(void* refcon) { return &registrations_.emplace_back(Registration{this, refcon}); }
    void registered(const AXUIElement& element, const std::string& notification, Registration* registration) {
        // An observed element keeps its identity: the table never gives it up.
        if (auto old = active_.find({element.identity(), notification}); old != active_.end()) {
            old->second->removed = true;
        } else {
            elements_.pin(element);
        }
        active_[{element.identity(), notification}] = registration;
    }
    void unregistered(const AXUIElement& element, const std::string& notification) {
        if (auto found = active_.find({element.identity(), notification}); found != active_.end()) end(found);
    }
    /// A destroyed element's registrations end with it.
    void elementDestroyed(const AXUIElement& element) {
        auto entry = active_.lower_bound({element.identity(), std::string()});
        while (entry != active_.end() && entry->first.first == element.identity()) end(entry++);
    }

    static void notified(::AXObserverRef, AXUIElementRef element, CFStringRef notification, void* context) {
        auto registration = static_cast<Registration*>(context);
        if (registration->removed) return;
        Observer* self = registration->owner;
        auto identity = self->elements_.element(element);
        auto name = CFConversion::value(notification, nullptr);
        auto owner = self->weak_from_this().lock();
        if (!identity || !name || name->text() == nullptr || !owner) return;
        self->callback_(owner, *identity, *name->text(), registration->refcon);
        if (*name->text() == "AXUIElementDestroyed") self->elementDestroyed(*identity);
    }

private:
    using Active = std::map<std::pair<std::uint64_t, std::string>, Registration*>;

    // A registration ends: a delivery on its way is dropped, and its element is no longer pinned.
    void end(Active::iterator registration) {
        registration->second->removed = true;
        elements_.unpin(AXUIElement(registration->first.first));
        active_.erase(registration);
    }

    MacElementTable& elements_;
    const AXObserverCallback callback_;
    const CFReference observer_;
    bool inRunLoop_ = false;
    std::list<Registration> registrations_;
    Active active_;
};

template <typename Body>
AXError MacAccessibility::withElement(const AXUIElement& element, Body body) {
    AXUIElementRef object = elements_.find(element);
    if (object == nullptr) return kAXErrorInvalidUIElement;
    const AXError status = portStatus(body(object));
    if (status == kAXErrorInvalidUIElement) elements_.forget(element);
    return status;
}

bool MacAccessibility::isProcessTrusted() const {
    return AXIsProcessTrusted() != 0;
}

bool MacAccessibility::isProcessTrustedWithOptions(bool prompt) {
    const void* keys[] = {kAXTrustedCheckOptionPrompt};
    const void* values[] = {prompt ? kCFBooleanTrue : kCFBooleanFalse};
    const CFReference options = CFReference::adopt(CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1,
                                                                      &kCFTypeDictionaryKeyCallBacks,
                                                                      &kCFTypeDictionaryValueCallBacks));
    return AXIsProcessTrustedWithOptions(options.as<CFDictionaryRef>()) != 0;
}

AXUIElement MacAccessibility::createApplication(ProcessID pid) {
    const CFReference application = CFReference::adopt(AXUIElementCreateApplication(pid));
    // Kept as an object of its own, not folded into an equal one: the messaging timeout of an
    // application object made for scanning must not reach the one made for observing. Identity 0 is
    // never handed out: an application element the system did not make answers
    // kAXErrorInvalidUIElement to every call.
    return elements_.own(application.get()).value_or(AXUIElement(0));
}

AXError MacAccessibility::copyAttributeValue(const AXUIElement& element, const std::string& attribute,
                                             std::optional<CFValue>& value) {
    const CFReference name = text(attribute);
    if (!name) return kAXErrorIllegalArgument;
    CFReference copied;
    const AXError status = withElement(element, [&](AXUIElementRef object) {
        CFTypeRef result = nullptr;
        const ::AXError called = AXUIElementCopyAttributeValue(object, name.as<CFStringRef>(), &result);
        copied = CFReference::adopt(result);
        return called;
    });
    if (status != kAXErrorSuccess) return status;
    if (!copied) {
        value.reset();
        return status;
    }
    auto converted = CFConversion::value(copied.get(), &elements_);
    value = converted ? std::move(*converted) : CFValue(CFDictionary{});
    return status;
}

AXError MacAccessibility::setAttributeValue(const AXUIElement& element, const std::string& attribute,
                                            const CFValue& value) {
    const CFReference name = text(attribute);
    const CFReference object = CFConversion::create(value, &elements_);
    if (!name || !object) return kAXErrorIllegalArgument;
    return withElement(element, [&](AXUIElementRef target) {
        return AXUIElementSetAttributeValue(target, name.as<CFStringRef>(), object.get());
    });
}

AXError MacAccessibility::isAttributeSettable(const AXUIElement& element, const std::string& attribute,
                                              bool& settable) {
    const CFReference name = text(attribute);
    if (!name) return kAXErrorIllegalArgument;
    Boolean answer = false;
    const AXError status = withElement(element, [&](AXUIElementRef object) {
        return AXUIElementIsAttributeSettable(object, name.as<CFStringRef>(), &answer);
    });
    if (status == kAXErrorSuccess) settable = answer != 0;
    return status;
}

AXError MacAccessibility::performAction(const AXUIElement& element, const std::string& action) {
    const CFReference name = text(action);
    if (!name) return kAXErrorIllegalArgument;
    return withElement(element, [&](AXUIElementRef object) {
        return AXUIElementPerformAction(object, name.as<CFStringRef>());
    });
}

AXError MacAccessibility::getPid(const AXUIElement& element, ProcessID& pid) {
    pid_t answer = 0;
    const AXError status =
        withElement(element, [&](AXUIElementRef object) { return AXUIElementGetPid(object, &answer); });
    if (status == kAXErrorSuccess) pid = answer;
    return status;
}

AXError MacAccessibility::setMessagingTimeout(const AXUIElement& element, float seconds) {
    return withElement(
        element, [&](AXUIElementRef object) { return AXUIElementSetMessagingTimeout(object, seconds); });
}

AXError MacAccessibility::observerCreate(ProcessID pid, AXObserverCallback callback,
                                         AXObserverRef& observer) {
    ::AXObserverRef created = nullptr;
    const AXError status = portStatus(AXObserverCreate(pid, Observer::notified, &created));
    // AXObserverCreate follows the Create rule.
    CFReference owned = CFReference::adopt(created);
    if (status == kAXErrorSuccess && owned) {
        observer = std::make_shared<Observer>(elements_, callback, std::move(owned));
    }
    return status;
}

AXError MacAccessibility::observerAddNotification(const AXObserverRef& observer, const AXUIElement& element,
                                                  const std::string& notification, void* refcon) {
    auto mac = std::dynamic_pointer_cast<Observer>(observer);
    const CFReference name = text(notification);
    if (!mac) return kAXErrorInvalidUIElementObserver;
    if (!name) return kAXErrorIllegalArgument;
    Observer::Registration* context = mac->context(refcon);
    const AXError status = withElement(element, [&](AXUIElementRef object) {
        return AXObserverAddNotification(mac->get(), object, name.as<CFStringRef>(), context);
    });
    if (status == kAXErrorSuccess) {
        mac->registered(element, notification, context);
    } else {
        context->removed = true;
    }
    return status;
}

AXError MacAccessibility::observerRemoveNotification(const AXObserverRef& observer,
                                                     const AXUIElement& element,
                                                     const std::string& notification) {
    auto mac = std::dynamic_pointer_cast<Observer>(observer);
    const CFReference name = text(notification);
    if (!mac) return kAXErrorInvalidUIElementObserver;
    if (!name) return kAXErrorIllegalArgument;
    const AXError status = withElement(element, [&](AXUIElementRef object) {
        return AXObserverRemoveNotification(mac->get(), object, name.as<CFStringRef>());
    });
    if (status == kAXErrorSuccess) mac->unregistered(element, notification);
    return status;
}

void MacAccessibility::observerAddToMainRunLoop(const AXObserverRef& observer) {
    if (auto mac = std::dynamic_pointer_cast<Observer>(observer)) mac->addToMainRunLoop();
}

void MacAccessibility::observerRemoveFromMainRunLoop(const AXObserverRef& observer) {
    if (auto mac = std::dynamic_pointer_cast<Observer>(observer)) mac->removeFromMainRunLoop();
}

}  // namespace tessaly
