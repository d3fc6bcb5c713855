#pragma once

#include <string>

#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace tessaly::testing {

/// A private runtime folder (mode 0700) named in XDG_RUNTIME_DIR while the test runs.
class TemporaryRuntimeDirectory {
public:
    TemporaryRuntimeDirectory() : environment_("XDG_RUNTIME_DIR", folder_.path()) {}

    const std::string& path() const { return folder_.path(); }
    std::string entry(const std::string& name) const { return folder_ / name; }

private:
    TemporaryDirectory folder_;
    ScopedEnvironment environment_;
};

}  // namespace tessaly::testing
