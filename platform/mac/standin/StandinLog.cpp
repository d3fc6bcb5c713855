// Unified logging on Linux: messages go to the routed log, under their category.

#include <os/log.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "mac/standin/StandinRoutes.h"
#include "ports/Log.h"

struct os_log_s {
    std::string subsystem;
    std::string category;
};

namespace {

tessaly::LogLevel levelOf(os_log_type_t type) {
    switch (type) {
        case OS_LOG_TYPE_DEBUG:
            return tessaly::LogLevel::debug;
        case OS_LOG_TYPE_INFO:
            return tessaly::LogLevel::info;
        case OS_LOG_TYPE_ERROR:
            return tessaly::LogLevel::error;
        case OS_LOG_TYPE_FAULT:
            return tessaly::LogLevel::fault;
        default:
            return tessaly::LogLevel::defaultLevel;
    }
}

}  // namespace

extern "C" {

// The system keeps one handle per subsystem and category for the life of the process.
os_log_t os_log_create(const char* subsystem, const char* category) {
    static std::mutex mutex;
    static std::map<std::pair<std::string, std::string>, std::unique_ptr<os_log_s>> logs;
    std::lock_guard lock(mutex);
    auto& log = logs[{subsystem, category}];
    if (!log) log = std::make_unique<os_log_s>(os_log_s{subsystem, category});
    return log.get();
}

void tessaly_standin_os_log(os_log_t log, os_log_type_t type, const char* format, const char* text) {
    tessaly::Log* routed = tessaly::MacStandin::routedLog();
    // Only the subsystem's own messages reach the routed log, as a log filtered by subsystem shows.
    if (routed == nullptr || log->subsystem != tessaly::logSubsystem ||
        std::strcmp(format, "%{public}s") != 0) {
        return;
    }
    routed->write(log->category, levelOf(type), text);
}
}
