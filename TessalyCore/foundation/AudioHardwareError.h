#pragma once

#include "foundation/CallError.h"

namespace tessaly {

/// A Core Audio call that returned a non-zero OSStatus.
class AudioHardwareError : public CallError {
public:
    AudioHardwareError(std::string operation, std::int32_t status)
        : CallError(std::move(operation), "Core Audio", status) {}

    std::int32_t status() const { return value(); }
};

}  // namespace tessaly
