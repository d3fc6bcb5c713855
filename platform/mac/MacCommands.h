#pragma once

#include "ports/Commands.h"

namespace tessaly {

/// Runs a program with posix_spawn and one pipe for its output and error, as PosixCommands does on
/// Linux. macOS has no pipe2, so instead of close-on-exec pipes the child is spawned with Apple's
/// POSIX_SPAWN_CLOEXEC_DEFAULT: it inherits only the descriptors its file actions name, whatever
/// other threads open meanwhile. Compiled on a Mac only (platform/mac/apple).
class MacCommands : public Commands {
public:
    CommandResult run(const std::string& path, const std::vector<std::string>& arguments) override;
};

}  // namespace tessaly
