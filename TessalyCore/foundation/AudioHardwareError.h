#pragma once

#include <cstdint>
#include <string>

#include "foundation/Error.h"

namespace tessaly {

/// A Core Audio call that returned a non-zero status.
class AudioHardwareError : public Error {
public:
    /// `operation` reads well before " failed", e.g. "Creating a mute tap".
    AudioHardwareError(std::string operation, std::int32_t status);

    const std::string& operation() const { return operation_; }
    std::int32_t status() const { return status_; }

private:
    std::string operation_;
    std::int32_t status_;
};

}  // namespace tessaly
