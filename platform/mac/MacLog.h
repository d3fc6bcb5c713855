#pragma once

#include <map>
#include <string>

#include "ports/Log.h"

struct os_log_s;

namespace tessaly {

/// Unified logging: one os_log_t per category under the subsystem, made at first use and kept for
/// the life of the process (the system keeps log handles cached anyway). Texts are public.
class MacLog : public Log {
public:
    void write(std::string_view category, LogLevel level, std::string_view message) override;

private:
    std::map<std::string, os_log_s*, std::less<>> logs_;
};

}  // namespace tessaly
