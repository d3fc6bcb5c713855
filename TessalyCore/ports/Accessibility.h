#pragma once
// Port: the Accessibility API (ApplicationServices: AXUIElement, AXObserver, trust). Plain C++;
// implementations live in platform/simulated (the simulated desktop) and, later, platform/macos.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "values/CFValue.h"
#include "values/ProcessID.h"

namespace tessaly {

/// The platform's AXError values; other values may arrive and pass through unchanged.
enum AXError : std::int32_t {
    kAXErrorSuccess = 0,
    kAXErrorFailure = -25200,
    kAXErrorIllegalArgument = -25201,
    kAXErrorInvalidUIElement = -25202,
    kAXErrorInvalidUIElementObserver = -25203,
    kAXErrorCannotComplete = -25204,
    kAXErrorAttributeUnsupported = -25205,
    kAXErrorActionUnsupported = -25206,
    kAXErrorNotificationUnsupported = -25207,
    kAXErrorNotImplemented = -25208,
    kAXErrorNotificationAlreadyRegistered = -25209,
    kAXErrorNotificationNotRegistered = -25210,
    kAXErrorAPIDisabled = -25211,
    kAXErrorNoValue = -25212,
    kAXErrorParameterizedAttributeUnsupported = -25213,
    kAXErrorNotEnoughPrecision = -25214,
};

/// An Accessibility observer (AXObserverRef) for one process. It lives as long as a reference
/// to it does; its registrations end with it.
class AXObserver {
public:
    virtual ~AXObserver() = default;
};
using AXObserverRef = std::shared_ptr<AXObserver>;

/// AXObserverCallback: called on the main run loop with the observer, the element the
/// notification is about, the notification's name and the context given at registration.
using AXObserverCallback = void (*)(const AXObserverRef& observer, const AXUIElement& element,
                                    const std::string& notification, void* refcon);

class Accessibility {
public:
    virtual ~Accessibility() = default;

    /// AXIsProcessTrusted.
    virtual bool isProcessTrusted() const = 0;
    /// AXIsProcessTrustedWithOptions with kAXTrustedCheckOptionPrompt set to `prompt`; macOS
    /// shows its trust prompt when asked to and the process is not trusted yet.
    virtual bool isProcessTrustedWithOptions(bool prompt) = 0;

    /// AXUIElementCreateApplication: a new object for the element of a process's application, with an
    /// identity of its own (other objects for the same application, and the application as read back
    /// through AXParent, are other identities), so a messaging timeout set on it holds for it alone.
    /// Elements read from the system have one identity per element.
    virtual AXUIElement createApplication(ProcessID pid) = 0;
    /// AXUIElementCopyAttributeValue; on success `value` may still be empty (a NULL value).
    virtual AXError copyAttributeValue(const AXUIElement& element, const std::string& attribute,
                                       std::optional<CFValue>& value) = 0;
    /// AXUIElementSetAttributeValue.
    virtual AXError setAttributeValue(const AXUIElement& element, const std::string& attribute,
                                      const CFValue& value) = 0;
    /// AXUIElementIsAttributeSettable.
    virtual AXError isAttributeSettable(const AXUIElement& element, const std::string& attribute,
                                        bool& settable) = 0;
    /// AXUIElementPerformAction.
    virtual AXError performAction(const AXUIElement& element, const std::string& action) = 0;
    /// AXUIElementGetPid.
    virtual AXError getPid(const AXUIElement& element, ProcessID& pid) = 0;
    /// AXUIElementSetMessagingTimeout, in seconds (0 restores the system default), for this object only:
    /// an element read from the system keeps the default, whatever its application's object was given.
    virtual AXError setMessagingTimeout(const AXUIElement& element, float seconds) = 0;

    /// AXObserverCreate for the process `pid`.
    virtual AXError observerCreate(ProcessID pid, AXObserverCallback callback, AXObserverRef& observer) = 0;
    /// AXObserverAddNotification; `refcon` comes back to the callback unchanged.
    virtual AXError observerAddNotification(const AXObserverRef& observer, const AXUIElement& element,
                                            const std::string& notification, void* refcon) = 0;
    /// AXObserverRemoveNotification.
    virtual AXError observerRemoveNotification(const AXObserverRef& observer, const AXUIElement& element,
                                               const std::string& notification) = 0;
    /// CFRunLoopAddSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(observer), common modes):
    /// from now on the observer's notifications are delivered through the main run loop.
    virtual void observerAddToMainRunLoop(const AXObserverRef& observer) = 0;
    /// CFRunLoopRemoveSource for the same source: nothing more is delivered, pending ones included.
    virtual void observerRemoveFromMainRunLoop(const AXObserverRef& observer) = 0;
};

}  // namespace tessaly
