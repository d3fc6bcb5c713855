#pragma once
// Port: the Core Audio hardware interface (property reads, process taps, aggregate devices,
// property listeners). Plain C++; implementations live in platform/simulated (and later macOS).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ports/RunLoop.h"
#include "values/CATapDescription.h"
#include "values/CFValue.h"

namespace tessaly {

using OSStatus = std::int32_t;
using AudioObjectPropertySelector = std::uint32_t;
using AudioObjectPropertyScope = std::uint32_t;
using AudioObjectPropertyElement = std::uint32_t;

/// A four-character code as Core Audio spells its constants, e.g. fourCharCode("prs#").
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

/// Names one property of an object: what, in which scope, for which element.
struct AudioObjectPropertyAddress {
    AudioObjectPropertySelector selector = 0;
    AudioObjectPropertyScope scope = 0;
    AudioObjectPropertyElement element = 0;

    friend bool operator==(const AudioObjectPropertyAddress&, const AudioObjectPropertyAddress&) = default;
};

// Objects.
inline constexpr AudioObjectID kAudioObjectUnknown = 0;
inline constexpr AudioObjectID kAudioObjectSystemObject = 1;

// Scopes and elements.
inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeGlobal = fourCharCode("glob");
inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeInput = fourCharCode("inpt");
inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeOutput = fourCharCode("outp");
inline constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMain = 0;

// Selectors of the system object.
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyProcessObjectList = fourCharCode("prs#");
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyServiceRestarted = fourCharCode("srst");

// Selectors of process objects.
inline constexpr AudioObjectPropertySelector kAudioProcessPropertyPID = fourCharCode("ppid");
inline constexpr AudioObjectPropertySelector kAudioProcessPropertyBundleID = fourCharCode("pbid");
inline constexpr AudioObjectPropertySelector kAudioProcessPropertyIsRunningOutput = fourCharCode("piro");

// Selectors of process taps.
inline constexpr AudioObjectPropertySelector kAudioTapPropertyUID = fourCharCode("tuid");
inline constexpr AudioObjectPropertySelector kAudioTapPropertyDescription = fourCharCode("tdsc");

// Selectors of devices and aggregate devices.
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyStreams = fourCharCode("stm#");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceIsRunning = fourCharCode("goin");
inline constexpr AudioObjectPropertySelector kAudioAggregateDevicePropertyFullSubDeviceList =
    fourCharCode("grup");
inline constexpr AudioObjectPropertySelector kAudioAggregateDevicePropertyComposition = fourCharCode("acom");
inline constexpr AudioObjectPropertySelector kAudioAggregateDevicePropertyTapList = fourCharCode("tap#");

// Statuses.
inline constexpr OSStatus kAudioHardwareNoError = 0;
inline constexpr OSStatus kAudioHardwareUnknownPropertyError = static_cast<OSStatus>(fourCharCode("who?"));
inline constexpr OSStatus kAudioHardwareBadPropertySizeError = static_cast<OSStatus>(fourCharCode("!siz"));
inline constexpr OSStatus kAudioHardwareIllegalOperationError = static_cast<OSStatus>(fourCharCode("nope"));
inline constexpr OSStatus kAudioHardwareBadObjectError = static_cast<OSStatus>(fourCharCode("!obj"));
inline constexpr OSStatus kAudioHardwareBadDeviceError = static_cast<OSStatus>(fourCharCode("!dev"));

// Keys of an aggregate device's description and composition dictionaries.
inline constexpr char kAudioAggregateDeviceUIDKey[] = "uid";
inline constexpr char kAudioAggregateDeviceNameKey[] = "name";
inline constexpr char kAudioAggregateDeviceSubDeviceListKey[] = "subdevices";
inline constexpr char kAudioAggregateDeviceIsPrivateKey[] = "private";
inline constexpr char kAudioAggregateDeviceTapListKey[] = "taps";
inline constexpr char kAudioSubDeviceUIDKey[] = "uid";
inline constexpr char kAudioSubTapUIDKey[] = "uid";
inline constexpr char kAudioSubTapDriftCompensationKey[] = "drift";

/// Bytes of one Core Foundation object reference, the data size of an object-valued property.
inline constexpr std::uint32_t kCFTypeRefSize = 8;

/// AudioObjectPropertyListenerBlock: receives the addresses that changed. Core Audio identifies a
/// registration by the block pointer, so the handle is shared and compared by identity.
using AudioObjectPropertyListenerBlock =
    std::shared_ptr<const std::function<void(const std::vector<AudioObjectPropertyAddress>&)>>;

/// Wraps a callable as a listener block handle that can later be removed by identity.
inline AudioObjectPropertyListenerBlock makeListenerBlock(
    std::function<void(const std::vector<AudioObjectPropertyAddress>&)> body) {
    return std::make_shared<const std::function<void(const std::vector<AudioObjectPropertyAddress>&)>>(
        std::move(body));
}

class CoreAudio {
public:
    virtual ~CoreAudio() = default;

    /// AudioObjectGetPropertyDataSize (no qualifier): the property's size in bytes.
    virtual OSStatus AudioObjectGetPropertyDataSize(AudioObjectID object,
                                                    const AudioObjectPropertyAddress& address,
                                                    std::uint32_t& outDataSize) = 0;

    /// AudioObjectGetPropertyData for an object-valued property: `ioDataSize` goes in as
    /// kCFTypeRefSize; the caller owns the object; an empty slot after status 0 means "no object".
    virtual OSStatus AudioObjectGetPropertyData(AudioObjectID object,
                                                const AudioObjectPropertyAddress& address,
                                                std::uint32_t& ioDataSize,
                                                std::optional<CFValue>& outObject) = 0;

    /// AudioObjectGetPropertyData for a UInt32 property: `ioDataSize` goes in as 4.
    virtual OSStatus AudioObjectGetPropertyData(AudioObjectID object,
                                                const AudioObjectPropertyAddress& address,
                                                std::uint32_t& ioDataSize, std::uint32_t& outValue) = 0;

    /// AudioObjectGetPropertyData for a list of object ids: `outData` holds `ioDataSize` bytes;
    /// on return `ioDataSize` is the number of bytes written.
    virtual OSStatus AudioObjectGetPropertyData(AudioObjectID object,
                                                const AudioObjectPropertyAddress& address,
                                                std::uint32_t& ioDataSize, AudioObjectID* outData) = 0;

    /// AudioHardwareCreateProcessTap: makes a tap with these settings; `outTapID` is its object id.
    virtual OSStatus AudioHardwareCreateProcessTap(const CATapDescription& description,
                                                   AudioObjectID& outTapID) = 0;

    /// AudioHardwareDestroyProcessTap.
    virtual OSStatus AudioHardwareDestroyProcessTap(AudioObjectID tapID) = 0;

    /// AudioHardwareCreateAggregateDevice from a description dictionary (aggregate-device keys).
    virtual OSStatus AudioHardwareCreateAggregateDevice(const CFDictionary& description,
                                                        AudioObjectID& outDeviceID) = 0;

    /// AudioHardwareDestroyAggregateDevice.
    virtual OSStatus AudioHardwareDestroyAggregateDevice(AudioObjectID deviceID) = 0;

    /// AudioObjectAddPropertyListenerBlock: `block` is called on `dispatchQueue` (the main queue)
    /// after the property changed, never inside the call that changed it.
    virtual OSStatus AudioObjectAddPropertyListenerBlock(AudioObjectID object,
                                                         const AudioObjectPropertyAddress& address,
                                                         RunLoop& dispatchQueue,
                                                         AudioObjectPropertyListenerBlock block) = 0;

    /// AudioObjectRemovePropertyListenerBlock: needs the same object, address, queue and the very
    /// block handle that was registered.
    virtual OSStatus AudioObjectRemovePropertyListenerBlock(
        AudioObjectID object, const AudioObjectPropertyAddress& address, RunLoop& dispatchQueue,
        const AudioObjectPropertyListenerBlock& block) = 0;
};

}  // namespace tessaly
