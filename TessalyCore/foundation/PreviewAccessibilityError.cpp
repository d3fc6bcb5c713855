#include "foundation/PreviewAccessibilityError.h"

namespace tessaly {

PreviewAccessibilityError::PreviewAccessibilityError(std::string operation, std::int32_t code)
    : Error(operation + " failed (Accessibility status " + std::to_string(code) + ")."),
      operation_(std::move(operation)),
      code_(code) {}

}  // namespace tessaly
