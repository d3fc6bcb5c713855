#pragma once
// Stand-in for <CoreAudio/AudioHardwareBase.h> on Linux: the HAL's basic object types the Mac
// adapters use. Apple reaches MacTypes.h and CF's macros through CoreAudioTypes.h; the stand-in
// includes them directly. The property selectors the adapters read live in TessalyCore.

#include <CoreFoundation/CFBase.h>
#include <MacTypes.h>

CF_ASSUME_NONNULL_BEGIN

#ifdef __cplusplus
extern "C" {
#endif

typedef UInt32 AudioObjectID;
typedef UInt32 AudioObjectPropertySelector;
typedef UInt32 AudioObjectPropertyScope;
typedef UInt32 AudioObjectPropertyElement;

struct AudioObjectPropertyAddress {
    AudioObjectPropertySelector mSelector;
    AudioObjectPropertyScope mScope;
    AudioObjectPropertyElement mElement;
};
typedef struct AudioObjectPropertyAddress AudioObjectPropertyAddress;

// A CF_ENUM with AudioObjectID underneath on a Mac.
enum : AudioObjectID { kAudioObjectUnknown = 0 };

#ifdef __cplusplus
}
#endif

CF_ASSUME_NONNULL_END
