#pragma once
// Port value type: stands for Core Audio's CATapDescription. Plain C++, no platform headers.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessaly {

using AudioObjectID = std::uint32_t;

/// Mute behaviours of a process tap (CATapMuteBehavior).
enum CATapMuteBehavior : std::int32_t {
    CATapUnmuted = 0,
    CATapMuted = 1,
    CATapMutedWhenTapped = 2,
};

/// The settings of a process tap, as given to AudioHardwareCreateProcessTap and read back
/// through kAudioTapPropertyDescription.
struct CATapDescription {
    std::string name;
    std::vector<AudioObjectID> processes;
    bool isMono = false;
    bool isMixdown = true;  // stereo mixdown of the listed processes
    bool isExclusive = false;
    bool isPrivate = false;
    CATapMuteBehavior muteBehavior = CATapUnmuted;
    std::vector<std::string> bundleIDs;
    bool isProcessRestoreEnabled = false;
    std::optional<std::string> deviceUID;

    /// Made as "stereo mixdown of processes" with the given process object ids.
    static CATapDescription stereoMixdownOfProcesses(std::vector<AudioObjectID> processes) {
        CATapDescription description;
        description.processes = std::move(processes);
        return description;
    }

    friend bool operator==(const CATapDescription&, const CATapDescription&) = default;
};

}  // namespace tessaly
