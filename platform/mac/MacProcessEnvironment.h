#pragma once

#include "ports/ProcessEnvironment.h"

namespace tessaly {

/// The running process on a Mac: the main bundle through Core Foundation's CFBundle (the bundle
/// NSBundle.mainBundle wraps), and getpid, getppid, getuid. Info.plist entries whose values CFValue
/// has no kind for (dates, data) are left out of the info dictionary.
class MacProcessEnvironment : public ProcessEnvironment {
public:
    MainBundle mainBundle() const override;
    ProcessID processID() const override;
    ProcessID parentProcessID() const override;
    std::uint32_t userID() const override;
};

}  // namespace tessaly
