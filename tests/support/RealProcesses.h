#pragma once
// Waiting on and looking at real processes. These tests start real programs, so they poll with a
// generous deadline; nothing here asserts how long anything took.

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

namespace tessaly::testing {

/// Polls `condition` every 10 ms until it holds (true) or `seconds` have passed (false).
inline bool eventually(const std::function<bool()>& condition, double seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

/// The fields of /proc/<pid>/stat after the command name (the state first); empty when gone.
inline std::string processStat(pid_t pid) {
    std::ifstream stream("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stream, line);
    const auto nameEnd = line.rfind(')');
    return nameEnd == std::string::npos ? "" : line.substr(nameEnd + 2);
}

/// Whether `pid` is a live process (a zombie nobody reaped does not count).
inline bool isRunning(pid_t pid) {
    const std::string stat = processStat(pid);
    return !stat.empty() && stat[0] != 'Z' && stat[0] != 'X';
}

/// Field `index` of processStat (0: state, 3: session, 4: controlling terminal).
inline std::string statField(pid_t pid, int index) {
    std::istringstream fields(processStat(pid));
    std::string value;
    for (int i = 0; i <= index && fields >> value; ++i) {
    }
    return value;
}

/// The short name the kernel keeps for a process (ps's "comm").
inline std::string commandName(pid_t pid) {
    std::ifstream stream("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(stream, name);
    return name;
}

}  // namespace tessaly::testing
