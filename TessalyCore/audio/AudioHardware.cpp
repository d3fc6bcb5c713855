#include "audio/AudioHardware.h"

#include <optional>
#include <string>

#include "audio/MuteRule.h"
#include "foundation/AudioHardwareError.h"
#include "foundation/TessalyError.h"

namespace tessaly::AudioHardware {

namespace {

constexpr int listReadAttempts = 3;
constexpr std::uint32_t idSize = sizeof(AudioObjectID);

AudioObjectPropertyAddress globalAddress(AudioObjectPropertySelector selector) {
    return {selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
}

// One attempt at reading the list; nothing when it grew since its size was asked.
std::optional<std::vector<AudioObjectID>> readList(CoreAudio& audio, AudioObjectID id,
                                                   const AudioObjectPropertyAddress& address,
                                                   bool isLastAttempt) {
    std::uint32_t size = 0;
    OSStatus status = audio.AudioObjectGetPropertyDataSize(id, address, size);
    if (status != kAudioHardwareNoError) throw AudioHardwareError("Reading audio object-list size", status);
    if (size == 0) return std::vector<AudioObjectID>();
    if (size % idSize != 0) throw TessalyError("Core Audio returned an invalid object-list size.");

    std::vector<AudioObjectID> ids(size / idSize, kAudioObjectUnknown);
    std::uint32_t written = size;
    status = audio.AudioObjectGetPropertyData(id, address, written, ids.data());
    if (status == kAudioHardwareBadPropertySizeError && !isLastAttempt) return std::nullopt;
    if (status != kAudioHardwareNoError) throw AudioHardwareError("Reading an audio object list", status);
    if (written > size || written % idSize != 0) {
        throw TessalyError("Core Audio returned an invalid object list.");
    }
    ids.resize(written / idSize);
    return ids;
}

// The process behind one object id, or nothing when it is not a Quick Look UI service process.
std::optional<AudioProcess> readProcess(CoreAudio& audio, AudioObjectID id) {
    CFValue bundleID = object(audio, id, kAudioProcessPropertyBundleID);
    const std::string* text = bundleID.text();
    if (text == nullptr || *text != MuteRule::targetBundleID) return std::nullopt;
    // Core Audio stores the pid_t in a UInt32; the bit pattern is the signed process id.
    auto pid = static_cast<std::int32_t>(integer(audio, id, kAudioProcessPropertyPID));
    bool isPlaying = integer(audio, id, kAudioProcessPropertyIsRunningOutput) != 0;
    return AudioProcess{id, pid, *text, isPlaying};
}

}  // namespace

CFValue object(CoreAudio& audio, AudioObjectID id, AudioObjectPropertySelector selector) {
    std::uint32_t size = kCFTypeRefSize;
    std::optional<CFValue> value;
    OSStatus status = audio.AudioObjectGetPropertyData(id, globalAddress(selector), size, value);
    if (status != kAudioHardwareNoError) {
        throw AudioHardwareError("Reading audio object " + std::to_string(id), status);
    }
    if (!value) throw TessalyError("Core Audio returned an empty object for " + std::to_string(id) + ".");
    return *value;
}

std::uint32_t integer(CoreAudio& audio, AudioObjectID id, AudioObjectPropertySelector selector) {
    std::uint32_t size = sizeof(std::uint32_t);
    std::uint32_t value = 0;
    OSStatus status = audio.AudioObjectGetPropertyData(id, globalAddress(selector), size, value);
    if (status != kAudioHardwareNoError) {
        throw AudioHardwareError("Reading audio property on " + std::to_string(id), status);
    }
    return value;
}

std::vector<AudioObjectID> objectIDs(CoreAudio& audio, AudioObjectID id, AudioObjectPropertySelector selector,
                                     AudioObjectPropertyScope scope) {
    const AudioObjectPropertyAddress address{selector, scope, kAudioObjectPropertyElementMain};
    for (int attempt = 1;; ++attempt) {
        if (auto ids = readList(audio, id, address, attempt == listReadAttempts)) return *ids;
    }
}

std::vector<AudioProcess> matchingProcesses(CoreAudio& audio) {
    std::vector<AudioProcess> found;
    for (AudioObjectID id :
         objectIDs(audio, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList)) {
        try {
            if (auto process = readProcess(audio, id)) found.push_back(std::move(*process));
        } catch (const AudioHardwareError& error) {
            // The process went away between listing and reading it.
            if (error.status() != kAudioHardwareBadObjectError) throw;
        }
    }
    return MuteRule::matchingProcesses(std::move(found));
}

}  // namespace tessaly::AudioHardware
