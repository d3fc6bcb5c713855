#pragma once
// Port: unified logging, subsystem "com.orvanne.tessaly". Plain C++; implementations live in
// platform/posix (syslog) and tests/support (a capturing sink).

#include <string_view>

namespace tessaly {

enum class LogLevel { debug, info, defaultLevel, error, fault };

class Log {
public:
    virtual ~Log() = default;

    /// Writes one public message in `category` ("command", "mute", "tap", "preview",
    /// "authorization") at `level`.
    virtual void write(std::string_view category, LogLevel level, std::string_view message) = 0;
};

/// The subsystem every message is logged under.
inline constexpr std::string_view logSubsystem = "com.orvanne.tessaly";

}  // namespace tessaly
