#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tessaly::testing {

/// What a finished program left behind.
struct ProcessResult {
    int exitStatus = -1;  // -1 when it was killed by a signal or timed out
    std::string out;
    std::string err;
};

/// Runs a built executable with an environment of its own, for end-to-end tests.
class ProcessRunner {
public:
    /// `environment` replaces the whole environment of the child, but for PATH.
    explicit ProcessRunner(std::map<std::string, std::string> environment);

    /// Runs to the end (killed after `timeoutSeconds`), capturing both output streams.
    ProcessResult run(const std::string& program, const std::vector<std::string>& arguments,
                      double timeoutSeconds = 20) const;

    /// Starts in the background, output to files; returns the pid.
    int start(const std::string& program, const std::vector<std::string>& arguments,
              const std::string& outPath, const std::string& errPath) const;

    /// Waits for a started child; nothing when it has not ended within `timeoutSeconds`.
    static std::optional<int> waitFor(int pid, double timeoutSeconds);

private:
    std::vector<std::string> environmentStrings() const;
    std::map<std::string, std::string> environment_;
};

}  // namespace tessaly::testing
