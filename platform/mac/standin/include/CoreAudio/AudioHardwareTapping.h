#pragma once
// Stand-in for <CoreAudio/AudioHardwareTapping.h> on Linux: the process-tap calls, declared where
// Apple declares them (macOS 14.2 and later), with the pointers' nullability left unspecified as
// Apple leaves it. As in Apple's header, both calls are declared for Objective-C only, so plain C++
// that calls either fails to compile here as it would on a Mac.

#ifdef __OBJC__

#include <CoreAudio/AudioHardware.h>

#ifdef __cplusplus
extern "C" {
#endif

@class CATapDescription;
OSStatus AudioHardwareCreateProcessTap(CATapDescription* inDescription, AudioObjectID* outTapID)
    API_AVAILABLE(macos(14.2));
OSStatus AudioHardwareDestroyProcessTap(AudioObjectID inTapID) API_AVAILABLE(macos(14.2));

#ifdef __cplusplus
}
#endif

#endif  // __OBJC__
