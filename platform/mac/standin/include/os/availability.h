#pragma once
// Stand-in for <os/availability.h> on Linux: API_AVAILABLE, which Apple's headers attach to each
// declaration. On Linux there is no deployment target to check, so it says nothing to the compiler.
// Apple's nullability qualifiers are clang keywords; GCC gets them as nothing, so the stand-in
// headers can carry Apple's nullability for both compilers.

#define API_AVAILABLE(...)

#if !defined(__clang__)
#define _Nullable
#define _Nonnull
#define _Null_unspecified
#endif
