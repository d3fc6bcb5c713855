#pragma once
// Stand-in for <os/log.h> on Linux: the declarations the Mac adapters use, with Apple's names;
// platform/mac/standin hands the messages to a routed log. os_log_with_type is a macro on a Mac
// too, taking a format and its arguments; this one passes them to the stand-in, which takes only
// the "%{public}s" format the adapters use.

#include <os/availability.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct os_log_s* os_log_t;

// OS_ENUM with uint8_t underneath, as a compiler with fixed enums sees it on a Mac.
typedef enum : uint8_t {
    OS_LOG_TYPE_DEFAULT = 0x00,
    OS_LOG_TYPE_INFO = 0x01,
    OS_LOG_TYPE_DEBUG = 0x02,
    OS_LOG_TYPE_ERROR = 0x10,
    OS_LOG_TYPE_FAULT = 0x11,
} os_log_type_t;

os_log_t os_log_create(const char* subsystem, const char* category) API_AVAILABLE(macos(10.12));

void tessaly_standin_os_log(os_log_t log, os_log_type_t type, const char* format, const char* text);
#define os_log_with_type(log, type, format, ...) tessaly_standin_os_log(log, type, format, __VA_ARGS__)

#ifdef __cplusplus
}
#endif
