#include "foundation/AudioHardwareError.h"

namespace tessaly {

AudioHardwareError::AudioHardwareError(std::string operation, std::int32_t status)
    : Error(operation + " failed (Core Audio status " + std::to_string(status) + ")."),
      operation_(std::move(operation)),
      status_(status) {}

}  // namespace tessaly
