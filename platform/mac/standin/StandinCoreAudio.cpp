// Core Audio's hardware calls on Linux, answered by the routed simulation through its port. Objects
// come out as Core Foundation objects the caller owns, as Core Audio hands them out.

#include <CoreAudio/AudioHardware.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

#include "mac/CFConversion.h"
#include "mac/standin/MacStandin.h"
#include "mac/standin/StandinRoutes.h"
#include "ports/CoreAudio.h"
#include "ports/RunLoop.h"

namespace {

using tessaly::fourCharCode;

// Core Audio knows each property's type; the simulation's port has one call per type.
enum class Shape { object, integer, objectList };

Shape shapeOf(AudioObjectPropertySelector selector) {
    switch (selector) {
        case tessaly::kAudioProcessPropertyBundleID:
        case tessaly::kAudioTapPropertyUID:
        case tessaly::kAudioTapPropertyDescription:
        case tessaly::kAudioAggregateDevicePropertyComposition:
        case tessaly::kAudioAggregateDevicePropertyTapList:
        case tessaly::kAudioAggregateDevicePropertyFullSubDeviceList:
            return Shape::object;
        case tessaly::kAudioHardwarePropertyProcessObjectList:
        case tessaly::kAudioDevicePropertyStreams:
            return Shape::objectList;
        default:
            return Shape::integer;
    }
}

tessaly::AudioObjectPropertyAddress addressOf(const AudioObjectPropertyAddress* address) {
    return {address->mSelector, address->mScope, address->mElement};
}

constexpr OSStatus noAudio = static_cast<OSStatus>(fourCharCode("stop"));

struct Listener {
    AudioObjectID object;
    tessaly::AudioObjectPropertyAddress address;
    AudioObjectPropertyListenerProc proc;
    void* clientData;
    tessaly::AudioObjectPropertyListenerBlock block;
};

std::mutex listenersMutex;
std::vector<Listener> listeners;
std::vector<Listener> removedListeners;

}  // namespace

extern "C" {

OSStatus AudioObjectGetPropertyDataSize(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                        UInt32, const void*, UInt32* outDataSize) {
    tessaly::CoreAudio* audio = tessaly::MacStandin::routedCoreAudio();
    if (audio == nullptr) return noAudio;
    return audio->AudioObjectGetPropertyDataSize(inObjectID, addressOf(inAddress), *outDataSize);
}

OSStatus AudioObjectGetPropertyData(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                    UInt32, const void*, UInt32* ioDataSize, void* outData) {
    tessaly::CoreAudio* audio = tessaly::MacStandin::routedCoreAudio();
    if (audio == nullptr) return noAudio;
    const auto address = addressOf(inAddress);
    switch (shapeOf(inAddress->mSelector)) {
        case Shape::object: {
            std::optional<tessaly::CFValue> value;
            const OSStatus status =
                audio->AudioObjectGetPropertyData(inObjectID, address, *ioDataSize, value);
            if (status != 0) return status;
            CFTypeRef object = nullptr;
            if (value) object = tessaly::CFConversion::create(*value, nullptr).release();
            std::memcpy(outData, &object, sizeof object);
            return status;
        }
        case Shape::integer: {
            std::uint32_t value = 0;
            const OSStatus status =
                audio->AudioObjectGetPropertyData(inObjectID, address, *ioDataSize, value);
            if (status == 0) std::memcpy(outData, &value, sizeof value);
            return status;
        }
        case Shape::objectList:
            return audio->AudioObjectGetPropertyData(inObjectID, address, *ioDataSize,
                                                     static_cast<AudioObjectID*>(outData));
    }
    return noAudio;
}

OSStatus AudioObjectAddPropertyListener(AudioObjectID inObjectID, const AudioObjectPropertyAddress* inAddress,
                                        AudioObjectPropertyListenerProc inListener, void* inClientData) {
    tessaly::CoreAudio* audio = tessaly::MacStandin::routedCoreAudio();
    tessaly::RunLoop* queue = tessaly::MacStandin::routedMainQueue();
    if (audio == nullptr || queue == nullptr) return noAudio;
    auto block =
        tessaly::makeListenerBlock([inObjectID, inListener, inClientData](
                                       const std::vector<tessaly::AudioObjectPropertyAddress>& changed) {
            std::vector<AudioObjectPropertyAddress> addresses;
            for (const auto& address : changed) {
                addresses.push_back({address.selector, address.scope, address.element});
            }
            inListener(inObjectID, static_cast<UInt32>(addresses.size()), addresses.data(), inClientData);
        });
    const OSStatus status =
        audio->AudioObjectAddPropertyListenerBlock(inObjectID, addressOf(inAddress), *queue, block);
    if (status == 0) {
        std::lock_guard lock(listenersMutex);
        listeners.push_back({inObjectID, addressOf(inAddress), inListener, inClientData, block});
    }
    return status;
}

OSStatus AudioObjectRemovePropertyListener(AudioObjectID inObjectID,
                                           const AudioObjectPropertyAddress* inAddress,
                                           AudioObjectPropertyListenerProc inListener, void* inClientData) {
    tessaly::CoreAudio* audio = tessaly::MacStandin::routedCoreAudio();
    tessaly::RunLoop* queue = tessaly::MacStandin::routedMainQueue();
    if (audio == nullptr || queue == nullptr) return noAudio;
    const auto address = addressOf(inAddress);
    // A registration this process never made is refused by the simulation itself.
    tessaly::AudioObjectPropertyListenerBlock block = tessaly::makeListenerBlock([](const auto&) {});
    std::unique_lock lock(listenersMutex);
    auto found = std::find_if(listeners.begin(), listeners.end(), [&](const Listener& listener) {
        return std::tie(listener.object, listener.proc, listener.clientData) ==
                   std::tie(inObjectID, inListener, inClientData) &&
               listener.address == address;
    });
    if (found != listeners.end()) block = found->block;
    lock.unlock();
    const OSStatus status = audio->AudioObjectRemovePropertyListenerBlock(inObjectID, address, *queue, block);
    lock.lock();
    if (status == 0) {
        for (const Listener& listener : listeners) {
            if (listener.block == block) removedListeners.push_back(listener);
        }
        std::erase_if(listeners, [&](const Listener& listener) { return listener.block == block; });
    }
    return status;
}

OSStatus AudioHardwareCreateAggregateDevice(CFDictionaryRef inDescription, AudioObjectID* outDeviceID) {
    tessaly::CoreAudio* audio = tessaly::MacStandin::routedCoreAudio();
    if (audio == nullptr) return noAudio;
    auto description = tessaly::CFConversion::value(inDescription, nullptr);
    if (!description || description->dictionary() == nullptr) {
        return tessaly::kAudioHardwareIllegalOperationError;
    }
    return audio->AudioHardwareCreateAggregateDevice(*description->dictionary(), *outDeviceID);
}

OSStatus AudioHardwareDestroyAggregateDevice(AudioObjectID inDeviceID) {
    tessaly::CoreAudio* audio = tessaly::MacStandin::routedCoreAudio();
    return audio == nullptr ? noAudio : audio->AudioHardwareDestroyAggregateDevice(inDeviceID);
}
}

std::size_t tessaly::MacStandin::callRemovedListenersLate() {
    std::vector<Listener> late;
    {
        std::lock_guard lock(listenersMutex);
        late.swap(removedListeners);
    }
    for (const Listener& listener : late) {
        const ::AudioObjectPropertyAddress address{listener.address.selector, listener.address.scope,
                                                   listener.address.element};
        listener.proc(listener.object, 1, &address, listener.clientData);
    }
    return late.size();
}
