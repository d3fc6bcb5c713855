#pragma once
// Stand-in for <CoreFoundation/CFURL.h> on Linux: the one URL call the Mac adapters use.

#include <CoreFoundation/CFBase.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef const struct __CFURL* CFURLRef;

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer,
                                         CFIndex maxBufLen);

#ifdef __cplusplus
}
#endif
