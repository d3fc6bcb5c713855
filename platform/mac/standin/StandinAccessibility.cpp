// The Accessibility API on Linux, answered by the routed simulated desktop through its port.
// Elements are Core Foundation objects that carry the simulation's element identity; like the real
// API, every call that hands out an element makes a new object, equal to the others for it. A
// messaging timeout belongs to one object: each application object is a simulated object of its own.
// (An application object and the application as read back through AXParent compare unequal here,
// where a Mac finds them equal; no adapter compares the two.)

#include <ApplicationServices/ApplicationServices.h>

#include <list>
#include <memory>
#include <optional>
#include <string>

#include "mac/CFConversion.h"
#include "mac/standin/StandinObject.h"
#include "mac/standin/StandinRoutes.h"
#include "ports/Accessibility.h"

namespace standin = tessaly::MacStandin;

struct __AXUIElement : standin::Object {
    explicit __AXUIElement(tessaly::AXUIElement simulated, std::optional<pid_t> madeFor = std::nullopt)
        : Object(standin::elementType), element(simulated), application(madeFor) {}
    // Objects made by AXUIElementCreateApplication are each their own simulated object (with its
    // own messaging timeout) and equal to the others made for the same process.
    bool equals(const Object& other) const override {
        const auto& that = static_cast<const __AXUIElement&>(other);
        return element == that.element || (application && application == that.application);
    }
    CFHashCode hash() const override {
        return application ? static_cast<CFHashCode>(*application)
                           : static_cast<CFHashCode>(element.identity());
    }
    tessaly::AXUIElement element;
    std::optional<pid_t> application;
};

namespace {

tessaly::Accessibility& desktop() {
    tessaly::Accessibility* routed = standin::routedAccessibility();
    if (routed == nullptr) throw std::logic_error("stand-in: no Accessibility simulation");
    return *routed;
}

// Elements cross as fresh objects, one per crossing.
class StandinElements : public tessaly::CFElementTable {
public:
    /// A new object for `element` (one reference, the caller's); `madeFor` for an application object.
    static __AXUIElement* make(const tessaly::AXUIElement& element,
                               std::optional<pid_t> madeFor = std::nullopt) {
        auto made = new __AXUIElement(element, madeFor);
        standin::made(made);
        return made;
    }
    tessaly::CFReference object(const tessaly::AXUIElement& element) override {
        return tessaly::CFReference::adopt(static_cast<const standin::Object*>(make(element)));
    }
    std::optional<tessaly::AXUIElement> element(CFTypeRef object) override {
        auto found = standin::as<__AXUIElement>(object, standin::elementType);
        return found == nullptr ? std::nullopt : std::optional(found->element);
    }
};

StandinElements elements;

std::string textOf(CFStringRef string) {
    auto value = tessaly::CFConversion::value(string, nullptr);
    return value && value->text() ? *value->text() : std::string();
}

}  // namespace

// An observer; the simulation calls back with the registration as its context.
struct __AXObserver : standin::Object {
    struct Registration {
        __AXObserver* observer;
        void* refcon;
    };
    struct Source : __CFRunLoopSource {
        explicit Source(__AXObserver* owner) : observer(owner) {}
        void addedToMainRunLoop() override {
            if (observer != nullptr) desktop().observerAddToMainRunLoop(observer->simulated);
        }
        void removedFromMainRunLoop() override {
            if (observer != nullptr) desktop().observerRemoveFromMainRunLoop(observer->simulated);
        }
        __AXObserver* observer;
    };

    __AXObserver(tessaly::AXObserverRef simulatedObserver, AXObserverCallback handler)
        : Object(standin::observerType), simulated(std::move(simulatedObserver)), callback(handler) {
        source = new Source(this);
        standin::made(source);
    }
    void dropContents() override {
        source->observer = nullptr;
        CFRelease(static_cast<const Object*>(source));
        simulated.reset();
    }

    static void deliver(const tessaly::AXObserverRef&, const tessaly::AXUIElement& element,
                        const std::string& notification, void* refcon) {
        auto registration = static_cast<Registration*>(refcon);
        tessaly::CFReference object = elements.object(element);
        tessaly::CFReference name = tessaly::CFConversion::create(tessaly::CFValue(notification), nullptr);
        // The callback is lent both objects for the length of the call.
        registration->observer->callback(registration->observer, object.as<AXUIElementRef>(),
                                         name.as<CFStringRef>(), registration->refcon);
    }

    tessaly::AXObserverRef simulated;
    AXObserverCallback callback;
    Source* source;
    std::list<Registration> registrations;
};

extern "C" {

CFStringRef kAXTrustedCheckOptionPrompt = standin::constantString("AXTrustedCheckOptionPrompt");

Boolean AXIsProcessTrusted(void) {
    return desktop().isProcessTrusted();
}

Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options) {
    const void* prompt =
        options == nullptr ? nullptr : CFDictionaryGetValue(options, kAXTrustedCheckOptionPrompt);
    return desktop().isProcessTrustedWithOptions(prompt != nullptr &&
                                                 CFGetTypeID(prompt) == CFBooleanGetTypeID() &&
                                                 CFBooleanGetValue(static_cast<CFBooleanRef>(prompt)));
}

CFTypeID AXUIElementGetTypeID(void) {
    return standin::elementType;
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
    return StandinElements::make(desktop().createApplication(pid), pid);
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute, CFTypeRef* value) {
    std::optional<tessaly::CFValue> read;
    const auto status =
        static_cast<AXError>(desktop().copyAttributeValue(element->element, textOf(attribute), read));
    *value = nullptr;
    if (status == kAXErrorSuccess && read) *value = tessaly::CFConversion::create(*read, &elements).release();
    return status;
}

AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute, CFTypeRef value) {
    auto written = tessaly::CFConversion::value(value, &elements);
    if (!written) return kAXErrorIllegalArgument;
    return static_cast<AXError>(desktop().setAttributeValue(element->element, textOf(attribute), *written));
}

AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute, Boolean* settable) {
    bool answer = false;
    const auto status =
        static_cast<AXError>(desktop().isAttributeSettable(element->element, textOf(attribute), answer));
    if (status == kAXErrorSuccess) *settable = answer;
    return status;
}

AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action) {
    return static_cast<AXError>(desktop().performAction(element->element, textOf(action)));
}

AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid) {
    tessaly::ProcessID answer = 0;
    const auto status = static_cast<AXError>(desktop().getPid(element->element, answer));
    if (status == kAXErrorSuccess) *pid = answer;
    return status;
}

AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds) {
    return static_cast<AXError>(desktop().setMessagingTimeout(element->element, timeoutInSeconds));
}

AXError AXObserverCreate(pid_t application, AXObserverCallback callback, AXObserverRef* outObserver) {
    tessaly::AXObserverRef simulated;
    const auto status =
        static_cast<AXError>(desktop().observerCreate(application, __AXObserver::deliver, simulated));
    *outObserver = nullptr;
    if (status != kAXErrorSuccess || !simulated) return status;
    auto observer = new __AXObserver(std::move(simulated), callback);
    standin::made(observer);
    *outObserver = observer;
    return status;
}

AXError AXObserverAddNotification(AXObserverRef observer, AXUIElementRef element, CFStringRef notification,
                                  void* refcon) {
    auto& registration = observer->registrations.emplace_back(__AXObserver::Registration{observer, refcon});
    const auto status = static_cast<AXError>(desktop().observerAddNotification(
        observer->simulated, element->element, textOf(notification), &registration));
    if (status != kAXErrorSuccess) observer->registrations.pop_back();
    return status;
}

AXError AXObserverRemoveNotification(AXObserverRef observer, AXUIElementRef element,
                                     CFStringRef notification) {
    // The registration's context stays with the observer: a delivery may already be on its way.
    return static_cast<AXError>(
        desktop().observerRemoveNotification(observer->simulated, element->element, textOf(notification)));
}

CFRunLoopSourceRef AXObserverGetRunLoopSource(AXObserverRef observer) {
    return observer->source;
}
}
