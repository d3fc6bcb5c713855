#include "mac/MacCoreAudio.h"

#include <CoreAudio/AudioHardware.h>
#include <dispatch/dispatch.h>

#include <algorithm>

#include "mac/CFConversion.h"
#include "mac/CFReference.h"
#include "mac/MacTapDescription.h"

namespace tessaly {

namespace {

constexpr OSStatus unsupportedOperation = static_cast<OSStatus>(fourCharCode("unop"));

::AudioObjectPropertyAddress toMac(const AudioObjectPropertyAddress& address) {
    return {address.selector, address.scope, address.element};
}

// What the main queue runs: the block with the addresses Core Audio reported, unless the listener
// was removed meanwhile.
struct Delivery {
    const MacCoreAudio::Listener* listener;
    std::vector<AudioObjectPropertyAddress> addresses;
};

void deliverOnMainQueue(void* context) {
    std::unique_ptr<Delivery> delivery(static_cast<Delivery*>(context));
    if (delivery->listener->removed) return;
    (*delivery->listener->block)(delivery->addresses);
}

// Runs on Core Audio's notification thread: copies what it needs and leaves at once. It may still be
// running, or begin, after the removal returned; the record is never freed (see retire).
::OSStatus propertyChanged(::AudioObjectID, UInt32 count, const ::AudioObjectPropertyAddress* addresses,
                           void* clientData) {
    const auto* listener = static_cast<const MacCoreAudio::Listener*>(clientData);
    if (listener->removed) return 0;
    auto delivery = std::make_unique<Delivery>();
    delivery->listener = listener;
    for (UInt32 index = 0; index < count; ++index) {
        delivery->addresses.push_back(
            {addresses[index].mSelector, addresses[index].mScope, addresses[index].mElement});
    }
    dispatch_async_f(dispatch_get_main_queue(), delivery.release(), deliverOnMainQueue);
    return 0;
}

}  // namespace

MacCoreAudio::~MacCoreAudio() {
    for (auto& listener : listeners_) {
        const auto address = toMac(listener->address);
        ::AudioObjectRemovePropertyListener(listener->object, &address, propertyChanged, listener.get());
        retire(std::move(listener));
    }
}

// Core Audio does not say when a call it began before the removal has ended, so a removed record is
// kept for the rest of the process. That is one record per registration: the helper registers two
// listeners and ends on a Core Audio restart.
void MacCoreAudio::retire(std::unique_ptr<Listener> listener) {
    listener->removed = true;
    static auto* retired = new std::vector<std::unique_ptr<Listener>>();
    retired->push_back(std::move(listener));
}

OSStatus MacCoreAudio::AudioObjectGetPropertyDataSize(AudioObjectID object,
                                                      const AudioObjectPropertyAddress& address,
                                                      std::uint32_t& outDataSize) {
    const auto macAddress = toMac(address);
    return ::AudioObjectGetPropertyDataSize(object, &macAddress, 0, nullptr, &outDataSize);
}

OSStatus MacCoreAudio::AudioObjectGetPropertyData(AudioObjectID object,
                                                  const AudioObjectPropertyAddress& address,
                                                  std::uint32_t& ioDataSize,
                                                  std::optional<CFValue>& outObject) {
    const auto macAddress = toMac(address);
    CFTypeRef slot = nullptr;
    UInt32 size = std::min<UInt32>(ioDataSize, sizeof slot);
    const OSStatus status = ::AudioObjectGetPropertyData(object, &macAddress, 0, nullptr, &size, &slot);
    // Core Audio hands out an object-valued property as a reference the caller releases.
    const CFReference owned = CFReference::adopt(slot);
    ioDataSize = size;
    if (status != 0) return status;
    if (!owned) {
        outObject.reset();
        return status;
    }
    auto value = CFConversion::value(owned.get(), nullptr);
    if (!value) return unsupportedOperation;
    outObject = std::move(*value);
    return status;
}

OSStatus MacCoreAudio::AudioObjectGetPropertyData(AudioObjectID object,
                                                  const AudioObjectPropertyAddress& address,
                                                  std::uint32_t& ioDataSize, std::uint32_t& outValue) {
    const auto macAddress = toMac(address);
    UInt32 value = 0;
    UInt32 size = std::min<UInt32>(ioDataSize, sizeof value);
    const OSStatus status = ::AudioObjectGetPropertyData(object, &macAddress, 0, nullptr, &size, &value);
    ioDataSize = size;
    if (status == 0) outValue = value;
    return status;
}

OSStatus MacCoreAudio::AudioObjectGetPropertyData(AudioObjectID object,
                                                  const AudioObjectPropertyAddress& address,
                                                  std::uint32_t& ioDataSize, AudioObjectID* outData) {
    const auto macAddress = toMac(address);
    return ::AudioObjectGetPropertyData(object, &macAddress, 0, nullptr, &ioDataSize, outData);
}

OSStatus MacCoreAudio::AudioHardwareCreateProcessTap(const CATapDescription& description,
                                                     AudioObjectID& outTapID) {
    return MacTapDescription::createProcessTap(description, outTapID);
}

OSStatus MacCoreAudio::AudioHardwareDestroyProcessTap(AudioObjectID tapID) {
    return MacTapDescription::destroyProcessTap(tapID);
}

OSStatus MacCoreAudio::AudioHardwareCreateAggregateDevice(const CFDictionary& description,
                                                          AudioObjectID& outDeviceID) {
    const CFReference dictionary = CFConversion::create(CFValue(description), nullptr);
    if (!dictionary) return kAudioHardwareIllegalOperationError;
    return ::AudioHardwareCreateAggregateDevice(dictionary.as<CFDictionaryRef>(), &outDeviceID);
}

OSStatus MacCoreAudio::AudioHardwareDestroyAggregateDevice(AudioObjectID deviceID) {
    return ::AudioHardwareDestroyAggregateDevice(deviceID);
}

OSStatus MacCoreAudio::AudioObjectAddPropertyListenerBlock(AudioObjectID object,
                                                           const AudioObjectPropertyAddress& address,
                                                           RunLoop&, AudioObjectPropertyListenerBlock block) {
    if (!block || !*block) return kAudioHardwareIllegalOperationError;
    auto listener = std::unique_ptr<Listener>(new Listener{object, address, std::move(block)});
    const auto macAddress = toMac(address);
    const OSStatus status =
        ::AudioObjectAddPropertyListener(object, &macAddress, propertyChanged, listener.get());
    if (status == 0) listeners_.push_back(std::move(listener));
    return status;
}

OSStatus MacCoreAudio::AudioObjectRemovePropertyListenerBlock(AudioObjectID object,
                                                              const AudioObjectPropertyAddress& address,
                                                              RunLoop&,
                                                              const AudioObjectPropertyListenerBlock& block) {
    auto registered = std::find_if(listeners_.begin(), listeners_.end(), [&](const auto& listener) {
        return listener->object == object && listener->address == address && listener->block == block;
    });
    // Core Audio knows registrations by procedure and client data; one this adapter never made has none.
    if (registered == listeners_.end()) return kAudioHardwareIllegalOperationError;
    const auto macAddress = toMac(address);
    const OSStatus status =
        ::AudioObjectRemovePropertyListener(object, &macAddress, propertyChanged, registered->get());
    // A call already running on Core Audio's thread may still read the registration.
    if (status == 0) {
        retire(std::move(*registered));
        listeners_.erase(registered);
    }
    return status;
}

}  // namespace tessaly
