#pragma once
// A system header, as Apple's framework headers are, so that clang takes its nullability
// qualifiers for no pedantic extension.
#pragma GCC system_header
// Stand-in for <HIServices/AXUIElement.h> on Linux: the elements, observers and trust checks the Mac
// adapters use, with Apple's signatures, nullability and availability; platform/mac/standin routes
// them into a simulated desktop. Copy and Create calls hand back references the caller releases.

#include <CoreFoundation/CoreFoundation.h>
#include <HIServices/AXError.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

CF_ASSUME_NONNULL_BEGIN

extern Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef _Nullable options) CF_AVAILABLE_MAC(10_9);
extern CFStringRef kAXTrustedCheckOptionPrompt CF_AVAILABLE_MAC(10_9);
extern Boolean AXIsProcessTrusted(void) CF_AVAILABLE_MAC(10_4);

typedef const struct __AXUIElement* AXUIElementRef;

extern CFTypeID AXUIElementGetTypeID(void);
extern AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                             CFTypeRef _Nullable* _Nonnull CF_RETURNS_RETAINED value);
extern AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                              Boolean* settable);
extern AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute, CFTypeRef value);
extern AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action);
extern AXUIElementRef AXUIElementCreateApplication(pid_t pid);
extern AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid);
extern AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds)
    CF_AVAILABLE_MAC(10_4);

typedef struct __AXObserver* AXObserverRef;
typedef void (*AXObserverCallback)(AXObserverRef observer, AXUIElementRef element, CFStringRef notification,
                                   void* _Nullable refcon);

extern AXError AXObserverCreate(pid_t application, AXObserverCallback callback,
                                AXObserverRef _Nullable* _Nonnull CF_RETURNS_RETAINED outObserver);
extern AXError AXObserverAddNotification(AXObserverRef observer, AXUIElementRef element,
                                         CFStringRef notification, void* _Nullable refcon);
extern AXError AXObserverRemoveNotification(AXObserverRef observer, AXUIElementRef element,
                                            CFStringRef notification);
extern CFRunLoopSourceRef AXObserverGetRunLoopSource(AXObserverRef observer);

CF_ASSUME_NONNULL_END

#ifdef __cplusplus
}
#endif
