#pragma once
// A system header, as Apple's framework headers are, so that clang takes its nullability
// qualifiers for no pedantic extension.
#pragma GCC system_header
// Stand-in for <dispatch/base.h> on Linux: the work function type, and the nullability region
// Apple's dispatch headers open.

#include <os/availability.h>
#include <stdint.h>

// Apple's nullability qualifiers are clang keywords; GCC gets them as nothing.
#if defined(__clang__)
#define DISPATCH_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define DISPATCH_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")
#else
#define DISPATCH_ASSUME_NONNULL_BEGIN
#define DISPATCH_ASSUME_NONNULL_END
#define _Nullable
#define _Nonnull
#define _Null_unspecified
#endif

DISPATCH_ASSUME_NONNULL_BEGIN

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*dispatch_function_t)(void* _Nullable context);

#ifdef __cplusplus
}
#endif

DISPATCH_ASSUME_NONNULL_END
