#pragma once

#include "foundation/Version.h"
#include "setup/SetupSnapshot.h"

namespace tessaly::testing {

/// The usual starting point: installed, trusted, nothing registered, no older installation, no
/// problem, half volume remembered.
inline SetupSnapshot installedSnapshot() {
    SetupSnapshot snapshot;
    snapshot.version = std::string(version);
    snapshot.installed = true;
    snapshot.accessibilityTrusted = true;
    snapshot.registration = "not-registered";
    snapshot.volume = 0.5;
    return snapshot;
}

/// Installed, trusted, enabled and the helper answering: audio memory is on.
inline SetupSnapshot runningSnapshot() {
    SetupSnapshot snapshot = installedSnapshot();
    snapshot.registration = "enabled";
    snapshot.helper = AudioStatus{};
    return snapshot;
}

}  // namespace tessaly::testing
