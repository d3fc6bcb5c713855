#include "audio/MuteTap.h"

#include "audio/AudioHardware.h"
#include "audio/MuteAttachmentState.h"
#include "audio/MuteRule.h"
#include "foundation/AudioHardwareError.h"
#include "foundation/TessalyError.h"

namespace tessaly {

namespace {

constexpr std::string_view logCategory = "tap";

// The objects a creation has made so far, destroyed again (attachment first) when it fails.
struct PartialTap {
    AudioObjectID tapID = kAudioObjectUnknown;
    AudioObjectID attachmentID = kAudioObjectUnknown;

    void cleanUp(CoreAudio& audio, Log& log) const {
        if (attachmentID != kAudioObjectUnknown) {
            OSStatus status = audio.AudioHardwareDestroyAggregateDevice(attachmentID);
            if (status != kAudioHardwareNoError) {
                log.write(logCategory, LogLevel::error,
                          "Cleaning up a failed mute attachment: " + std::to_string(status));
            }
        }
        if (tapID != kAudioObjectUnknown) {
            OSStatus status = audio.AudioHardwareDestroyProcessTap(tapID);
            if (status != kAudioHardwareNoError) {
                log.write(logCategory, LogLevel::error,
                          "Cleaning up a failed mute tap: " + std::to_string(status));
            }
        }
    }
};

[[noreturn]] void throwUnreadableAttachment() {
    throw TessalyError("Core Audio returned an unreadable mute attachment.");
}

// The texts of an array, or nothing when the value is not an array of texts.
std::optional<std::vector<std::string>> texts(const CFValue& value) {
    const CFArray* array = value.array();
    if (array == nullptr) return std::nullopt;
    std::vector<std::string> result;
    for (const CFValue& element : *array) {
        const std::string* text = element.text();
        if (text == nullptr) return std::nullopt;
        result.push_back(*text);
    }
    return result;
}

// Core Audio documents the entry as a number (1 private, 0 published); a boolean is read as well.
std::optional<bool> privateFlag(const CFValue& composition) {
    const CFDictionary* dictionary = composition.dictionary();
    if (dictionary == nullptr) return std::nullopt;
    auto entry = dictionary->find(kAudioAggregateDeviceIsPrivateKey);
    if (entry == dictionary->end()) return std::nullopt;
    if (const bool* flag = entry->second.boolean()) return *flag;
    const double* number = entry->second.number();
    if (number != nullptr && (*number == 0 || *number == 1)) return *number == 1;
    return std::nullopt;
}

}  // namespace

MuteTap MuteTap::create(CoreAudio& audio, Log& log, const CATapDescription& description) {
    PartialTap made;
    try {
        AudioObjectID tapID = kAudioObjectUnknown;
        OSStatus status = audio.AudioHardwareCreateProcessTap(description, tapID);
        if (status != kAudioHardwareNoError) throw AudioHardwareError("Creating a mute tap", status);
        if (tapID == kAudioObjectUnknown) throw TessalyError("Core Audio created no mute tap.");
        made.tapID = tapID;

        const CFValue uidValue = AudioHardware::object(audio, tapID, kAudioTapPropertyUID);
        if (uidValue.text() == nullptr) throw TessalyError("Core Audio returned an unreadable mute tap.");
        const std::string uid = *uidValue.text();

        AudioObjectID attachmentID = kAudioObjectUnknown;
        status = audio.AudioHardwareCreateAggregateDevice(MuteRule::attachmentDescription(uid), attachmentID);
        if (status != kAudioHardwareNoError) throw AudioHardwareError("Attaching the mute tap", status);
        if (attachmentID == kAudioObjectUnknown) throw TessalyError("Core Audio created no mute attachment.");
        made.attachmentID = attachmentID;

        MuteTap tap{tapID, attachmentID, uid};
        tap.validateAttachment(audio);
        return tap;
    } catch (...) {
        made.cleanUp(audio, log);
        throw;
    }
}

void MuteTap::validateAttachment(CoreAudio& audio) const {
    const CFValue composition =
        AudioHardware::object(audio, attachmentID, kAudioAggregateDevicePropertyComposition);
    const CFValue tapList = AudioHardware::object(audio, attachmentID, kAudioAggregateDevicePropertyTapList);
    const CFValue subDevices =
        AudioHardware::object(audio, attachmentID, kAudioAggregateDevicePropertyFullSubDeviceList);
    auto streams = AudioHardware::objectIDs(audio, attachmentID, kAudioDevicePropertyStreams,
                                            kAudioObjectPropertyScopeOutput);
    bool isRunning = AudioHardware::integer(audio, attachmentID, kAudioDevicePropertyDeviceIsRunning) != 0;

    auto isPrivate = privateFlag(composition);
    auto tapUIDs = texts(tapList);
    auto subDeviceUIDs = texts(subDevices);
    if (!isPrivate || !tapUIDs || !subDeviceUIDs) throwUnreadableAttachment();

    MuteRule::validateAttachment(
        MuteAttachmentState{*isPrivate, std::move(*tapUIDs), std::move(*subDeviceUIDs), std::move(streams),
                            isRunning},
        uid);
}

CATapDescription MuteTap::readDescription(CoreAudio& audio) const {
    const CFValue value = AudioHardware::object(audio, id, kAudioTapPropertyDescription);
    if (value.tapDescription() == nullptr) {
        throw TessalyError("Core Audio did not retain the Quick Look-only mute rule.");
    }
    return *value.tapDescription();
}

std::optional<std::string> MuteTap::remove(CoreAudio& audio) const {
    OSStatus attachmentStatus = audio.AudioHardwareDestroyAggregateDevice(attachmentID);
    OSStatus tapStatus = audio.AudioHardwareDestroyProcessTap(id);
    if (attachmentStatus == kAudioHardwareNoError && tapStatus == kAudioHardwareNoError) return std::nullopt;
    return "Removing a mute tap failed (attachment: " + std::to_string(attachmentStatus) +
           ", tap: " + std::to_string(tapStatus) + ").";
}

}  // namespace tessaly
