#pragma once

#include "ports/Log.h"

namespace tessaly {

/// Unified logging on Linux: syslog, with the subsystem and category in each message.
class SyslogLog : public Log {
public:
    SyslogLog();
    ~SyslogLog() override;
    SyslogLog(const SyslogLog&) = delete;
    SyslogLog& operator=(const SyslogLog&) = delete;

    void write(std::string_view category, LogLevel level, std::string_view message) override;
};

}  // namespace tessaly
