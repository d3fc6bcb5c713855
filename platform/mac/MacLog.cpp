#include "mac/MacLog.h"

#include <os/log.h>

namespace tessaly {

namespace {

os_log_type_t typeOf(LogLevel level) {
    switch (level) {
        case LogLevel::debug:
            return OS_LOG_TYPE_DEBUG;
        case LogLevel::info:
            return OS_LOG_TYPE_INFO;
        case LogLevel::defaultLevel:
            return OS_LOG_TYPE_DEFAULT;
        case LogLevel::error:
            return OS_LOG_TYPE_ERROR;
        case LogLevel::fault:
            return OS_LOG_TYPE_FAULT;
    }
    return OS_LOG_TYPE_DEFAULT;
}

}  // namespace

void MacLog::write(std::string_view category, LogLevel level, std::string_view message) {
    auto found = logs_.find(category);
    if (found == logs_.end()) {
        const std::string subsystem(logSubsystem);
        const std::string name(category);
        found = logs_.emplace(name, os_log_create(subsystem.c_str(), name.c_str())).first;
    }
    const std::string text(message);
    os_log_with_type(found->second, typeOf(level), "%{public}s", text.c_str());
}

}  // namespace tessaly
