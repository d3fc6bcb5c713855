#pragma once
// A system header, as Apple's framework headers are, so that clang takes its nullability
// qualifiers for no pedantic extension.
#pragma GCC system_header
// Stand-in for <dispatch/object.h> on Linux: the object every dispatch type derives from, and the
// calls on any object the Mac adapters use.

#include <dispatch/base.h>

// In C++ the dispatch types derive from dispatch_object_s, as Apple's DISPATCH_DECL makes them (a
// type's linkage is no matter of C, so they stand outside the C declarations).
struct dispatch_object_s {};

DISPATCH_ASSUME_NONNULL_BEGIN

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dispatch_object_s* dispatch_object_t;

void dispatch_set_context(dispatch_object_t object, void* _Nullable context) API_AVAILABLE(macos(10.6));
void dispatch_resume(dispatch_object_t object) API_AVAILABLE(macos(10.6));
void dispatch_release(dispatch_object_t object) API_AVAILABLE(macos(10.6));

#ifdef __cplusplus
}
#endif

DISPATCH_ASSUME_NONNULL_END
