#pragma once
// What both benchmarks share: a user of their own (a home and a runtime folder in a fresh temporary
// folder, removed at the end), starting a built program, and reading a percentile of samples.

#include <spawn.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

class IsolatedUser {
public:
    /// Makes the folders under a new /tmp/<prefix>-XXXXXX and points HOME and XDG_RUNTIME_DIR there.
    explicit IsolatedUser(const std::string& prefix) {
        std::string pattern = "/tmp/" + prefix + "-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make " + pattern);
        folder = pattern;
        home = folder + "/home";
        runtime = folder + "/run";
        std::filesystem::create_directories(home);
        std::filesystem::create_directories(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    ~IsolatedUser() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    IsolatedUser(const IsolatedUser&) = delete;
    IsolatedUser& operator=(const IsolatedUser&) = delete;

    std::string folder;
    std::string home;
    std::string runtime;
};

/// Starts `program` with one argument in this environment; -1 when it cannot be started.
inline pid_t spawn(const std::string& program, const std::string& argument) {
    pid_t pid = 0;
    char* arguments[] = {const_cast<char*>(program.c_str()), const_cast<char*>(argument.c_str()), nullptr};
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, arguments, environ) != 0) return -1;
    return pid;
}

/// The sample below which `fraction` of the samples lie (0.5: the median).
inline double percentile(std::vector<double> samples, double fraction) {
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1))];
}
