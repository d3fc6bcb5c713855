#include "posix/SyslogLog.h"

#include <syslog.h>

#include <string>

namespace tessaly {

namespace {

int priorityOf(LogLevel level) {
    switch (level) {
        case LogLevel::debug:
            return LOG_DEBUG;
        case LogLevel::info:
            return LOG_INFO;
        case LogLevel::defaultLevel:
            return LOG_NOTICE;
        case LogLevel::error:
            return LOG_ERR;
        case LogLevel::fault:
            return LOG_CRIT;
    }
    return LOG_NOTICE;
}

}  // namespace

SyslogLog::SyslogLog() {
    openlog("tessaly", LOG_PID, LOG_USER);
}

SyslogLog::~SyslogLog() {
    closelog();
}

void SyslogLog::write(std::string_view category, LogLevel level, std::string_view message) {
    // The text is passed as an argument, never as the format, so it is logged as it is.
    const std::string line =
        "[" + std::string(logSubsystem) + ":" + std::string(category) + "] " + std::string(message);
    syslog(priorityOf(level), "%s", line.c_str());
}

}  // namespace tessaly
