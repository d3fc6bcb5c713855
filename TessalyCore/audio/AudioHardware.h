#pragma once

#include <cstdint>
#include <vector>

#include "audio/AudioProcess.h"
#include "ports/CoreAudio.h"
#include "values/CFValue.h"

namespace tessaly {

/// The Core Audio reads the mute guard needs: every call checks its status and sizes the same
/// way, and every failure becomes an error with a readable sentence.
namespace AudioHardware {

/// The object stored in a property (global scope, main element). Its type is not checked: callers
/// ask only for properties whose type Core Audio fixes. Throws AudioHardwareError on a failed call
/// and TessalyError when Core Audio succeeds without handing back an object.
CFValue object(CoreAudio& audio, AudioObjectID id, AudioObjectPropertySelector selector);

/// A UInt32 property (global scope, main element), as it came. Throws AudioHardwareError.
std::uint32_t integer(CoreAudio& audio, AudioObjectID id, AudioObjectPropertySelector selector);

/// A list of object ids, possibly empty. The list may change between asking for its size and
/// reading it, so a read that finds it grown is retried, three attempts in all.
std::vector<AudioObjectID> objectIDs(CoreAudio& audio, AudioObjectID id, AudioObjectPropertySelector selector,
                                     AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal);

/// The Quick Look UI service processes Core Audio knows, ordered by object id. Processes that
/// vanish while being read are left out; every other failed read is thrown.
std::vector<AudioProcess> matchingProcesses(CoreAudio& audio);

}  // namespace AudioHardware

}  // namespace tessaly
