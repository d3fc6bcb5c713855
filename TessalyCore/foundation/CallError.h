#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "foundation/Error.h"

namespace tessaly {

/// A call into a system service that returned a non-zero status. The sentence is
/// "<operation> failed (<service> status <n>)."
class CallError : public Error {
public:
    /// Reads well before " failed", e.g. "Creating a mute tap".
    const std::string& operation() const { return operation_; }

protected:
    CallError(std::string operation, const char* service, std::int32_t value)
        : Error(operation + " failed (" + service + " status " + std::to_string(value) + ")."),
          operation_(std::move(operation)),
          value_(value) {}

    std::int32_t value() const { return value_; }

private:
    std::string operation_;
    std::int32_t value_;
};

}  // namespace tessaly
