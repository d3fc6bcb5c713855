#pragma once
// Stand-in for <CoreAudio/AudioHardwareTapping.h> on Linux: the process-tap calls, declared where
// Apple declares them (macOS 14.2 and later). AudioHardwareCreateProcessTap takes an Objective-C
// CATapDescription, so Objective-C++ alone sees it; destroying a tap is plain C. Apple leaves the
// two pointers' nullability unspecified (Swift sees them implicitly unwrapped).

#include <CoreAudio/AudioHardware.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __OBJC__
@class CATapDescription;
OSStatus AudioHardwareCreateProcessTap(CATapDescription* inDescription, AudioObjectID* outTapID)
    API_AVAILABLE(macos(14.2));
#endif

OSStatus AudioHardwareDestroyProcessTap(AudioObjectID inTapID) API_AVAILABLE(macos(14.2));

#ifdef __cplusplus
}
#endif
