#pragma once
// A system header, as Apple's framework headers are, so that clang takes its nullability
// qualifiers for no pedantic extension.
#pragma GCC system_header
// Stand-in for <CoreAudio/AudioHardware.h> on Linux: the declarations the Mac adapters use, with
// Apple's names, signatures and nullability; platform/mac/standin routes them into a simulated Core
// Audio. The process-tap calls are declared in <CoreAudio/AudioHardwareTapping.h>, as on a Mac.

#include <CoreAudio/AudioHardwareBase.h>
#include <CoreFoundation/CFDictionary.h>
#include <CoreFoundation/CFRunLoop.h>

CF_ASSUME_NONNULL_BEGIN

#ifdef __cplusplus
extern "C" {
#endif

typedef OSStatus (*AudioObjectPropertyListenerProc)(AudioObjectID inObjectID, UInt32 inNumberAddresses,
                                                    const AudioObjectPropertyAddress* inAddresses,
                                                    void* _Nullable inClientData);

OSStatus AudioObjectGetPropertyDataSize(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                        UInt32 inQualifierDataSize, const void* _Nullable inQualifierData,
                                        UInt32* outDataSize) API_AVAILABLE(macos(10.4));
OSStatus AudioObjectGetPropertyData(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                    UInt32 inQualifierDataSize, const void* _Nullable inQualifierData,
                                    UInt32* ioDataSize, void* outData) API_AVAILABLE(macos(10.4));
OSStatus AudioObjectAddPropertyListener(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                        AudioObjectPropertyListenerProc inListener,
                                        void* _Nullable inClientData) API_AVAILABLE(macos(10.4));
OSStatus AudioObjectRemovePropertyListener(AudioObjectID inObjectID,
                                           const AudioObjectPropertyAddress* inAddress,
                                           AudioObjectPropertyListenerProc inListener,
                                           void* _Nullable inClientData) API_AVAILABLE(macos(10.4));

OSStatus AudioHardwareCreateAggregateDevice(CFDictionaryRef inDescription, AudioObjectID* outDeviceID)
    API_AVAILABLE(macos(10.9));
OSStatus AudioHardwareDestroyAggregateDevice(AudioObjectID inDeviceID) API_AVAILABLE(macos(10.9));

#ifdef __cplusplus
}
#endif

CF_ASSUME_NONNULL_END
