#pragma once
// Stand-in for <CoreFoundation/CFBase.h> on Linux: the base types and polymorphic functions the Mac
// adapters use, with Apple's names and signatures. platform/mac/standin implements them over the
// simulations and counts every reference taken and given back. On a Mac the real header is used.

#include <CoreFoundation/CFAvailability.h>
#include <MacTypes.h>

// Apple's nullability qualifiers are clang keywords; GCC gets them as nothing (as CFBase.h does for
// any compiler without them), so the stand-in headers can carry Apple's nullability for both.
#if !defined(__clang__)
#define _Nullable
#define _Nonnull
#define _Null_unspecified
#endif

#if defined(__clang__)
#define CF_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define CF_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")
#define CF_RETURNS_RETAINED __attribute__((cf_returns_retained))
#else
#define CF_ASSUME_NONNULL_BEGIN
#define CF_ASSUME_NONNULL_END
#define CF_RETURNS_RETAINED
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned long CFTypeID;
typedef unsigned long CFHashCode;
typedef signed long CFIndex;

typedef const void* CFTypeRef;
typedef const struct __CFString* CFStringRef;

typedef struct {
    CFIndex location;
    CFIndex length;
} CFRange;

static inline CFRange CFRangeMake(CFIndex loc, CFIndex len) {
    CFRange range = {loc, len};
    return range;
}

typedef const struct __CFAllocator* CFAllocatorRef;
extern const CFAllocatorRef kCFAllocatorDefault;

// Memory management: Create and Copy functions return a reference the caller owns; Get
// functions return one the caller does not.
CFTypeID CFGetTypeID(CFTypeRef cf);
CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2);
CFHashCode CFHash(CFTypeRef cf);

#ifdef __cplusplus
}
#endif
