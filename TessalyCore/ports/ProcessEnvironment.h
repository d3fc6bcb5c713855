#pragma once
// Port: the running process's own facts (NSBundle.mainBundle, getpid, getppid, getuid). Plain C++;
// implementations live in platform/posix and platform/simulated.

#include <cstdint>
#include <optional>
#include <string>

#include "values/CFValue.h"
#include "values/ProcessID.h"

namespace tessaly {

/// The bundle the running executable belongs to (NSBundle.mainBundle).
struct MainBundle {
    /// CFBundleIdentifier, when the executable lies in a bundle that has one.
    std::optional<std::string> identifier;
    /// The bundle's folder (bundleURL's path); for a bare executable, its own folder.
    std::string path;
    /// The bundle's Info.plist; empty for a bare executable.
    CFDictionary infoDictionary;
};

class ProcessEnvironment {
public:
    virtual ~ProcessEnvironment() = default;

    /// NSBundle.mainBundle.
    virtual MainBundle mainBundle() const = 0;
    /// getpid().
    virtual ProcessID processID() const = 0;
    /// getppid(): 1 when the process was started by the system as an application (launchd).
    virtual ProcessID parentProcessID() const = 0;
    /// getuid().
    virtual std::uint32_t userID() const = 0;
};

}  // namespace tessaly
