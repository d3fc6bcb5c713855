#pragma once
// Stand-in for <CoreAudio/AudioHardwareTapping.h> on Linux: the process-tap calls, declared where
// Apple declares them (macOS 14.2 and later), with the pointers' nullability left unspecified as
// Apple leaves it. Apple's header declares both calls for Objective-C only; the stand-in keeps
// AudioHardwareDestroyProcessTap visible to plain C++ too, because platform/mac/MacCoreAudio.cpp
// calls it from C++ (which a Mac's header would not allow).

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
