#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "ports/CoreAudio.h"

namespace tessaly {

/// The Core Audio port over the real hardware interface. Statuses pass through unchanged; where a
/// value cannot cross between Core Foundation and CFValue the adapter answers itself:
/// kAudioHardwareUnsupportedOperationError ("unop") for a property object CFValue has no kind for,
/// kAudioHardwareIllegalOperationError ("nope") for a description that is not valid text and for
/// removing a listener block this adapter never registered.
/// Listener blocks are registered as listener procedures whose calls, on Core Audio's own thread,
/// are handed to the main queue: the core's block runs on the main thread, never inside the call
/// that changed the property.
class MacCoreAudio : public CoreAudio {
public:
    MacCoreAudio() = default;
    /// Removes the listeners still registered, so that none calls into a freed adapter.
    ~MacCoreAudio() override;
    MacCoreAudio(const MacCoreAudio&) = delete;
    MacCoreAudio& operator=(const MacCoreAudio&) = delete;

    OSStatus AudioObjectGetPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                            std::uint32_t& outDataSize) override;
    OSStatus AudioObjectGetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                        std::uint32_t& ioDataSize,
                                        std::optional<CFValue>& outObject) override;
    OSStatus AudioObjectGetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                        std::uint32_t& ioDataSize, std::uint32_t& outValue) override;
    OSStatus AudioObjectGetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                        std::uint32_t& ioDataSize, AudioObjectID* outData) override;
    OSStatus AudioHardwareCreateProcessTap(const CATapDescription& description,
                                           AudioObjectID& outTapID) override;
    OSStatus AudioHardwareDestroyProcessTap(AudioObjectID tapID) override;
    OSStatus AudioHardwareCreateAggregateDevice(const CFDictionary& description,
                                                AudioObjectID& outDeviceID) override;
    OSStatus AudioHardwareDestroyAggregateDevice(AudioObjectID deviceID) override;
    OSStatus AudioObjectAddPropertyListenerBlock(AudioObjectID object,
                                                 const AudioObjectPropertyAddress& address,
                                                 RunLoop& dispatchQueue,
                                                 AudioObjectPropertyListenerBlock block) override;
    OSStatus AudioObjectRemovePropertyListenerBlock(AudioObjectID object,
                                                    const AudioObjectPropertyAddress& address,
                                                    RunLoop& dispatchQueue,
                                                    const AudioObjectPropertyListenerBlock& block) override;

    /// One registration; Core Audio holds its address as the listener's client data. Only `removed`
    /// changes after it is made, so Core Audio's thread may read it while the main thread works.
    struct Listener {
        AudioObjectID object;
        AudioObjectPropertyAddress address;
        AudioObjectPropertyListenerBlock block;
        std::atomic<bool> removed = false;
    };

private:
    // Marks the registration removed and keeps it for the rest of the process.
    static void retire(std::unique_ptr<Listener> listener);

    std::vector<std::unique_ptr<Listener>> listeners_;
};

}  // namespace tessaly
