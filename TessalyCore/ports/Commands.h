#pragma once
// Port: running an external program with one pipe for its output and error (NSTask). Plain C++;
// implementations live in platform/posix (posix_spawn) and platform/simulated (scripted).

#include <string>
#include <vector>

namespace tessaly {

/// How a program ended and what it wrote.
struct CommandResult {
    /// The termination status.
    int exitCode = 0;
    /// Standard output and standard error together, as raw bytes.
    std::string output;

    friend bool operator==(const CommandResult&, const CommandResult&) = default;
};

class Commands {
public:
    virtual ~Commands() = default;

    /// Runs `path` with `arguments`, reads the pipe to its end, then waits for the exit. A program
    /// that cannot be launched throws the platform's error.
    virtual CommandResult run(const std::string& path, const std::vector<std::string>& arguments) = 0;
};

}  // namespace tessaly
