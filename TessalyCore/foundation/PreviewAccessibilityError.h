#pragma once

#include "foundation/CallError.h"

namespace tessaly {

/// An Accessibility call that returned a non-zero AXError.
class PreviewAccessibilityError : public CallError {
public:
    PreviewAccessibilityError(std::string operation, std::int32_t code)
        : CallError(std::move(operation), "Accessibility", code) {}

    std::int32_t code() const { return value(); }
};

}  // namespace tessaly
