#pragma once

#include <cstdint>
#include <string>

#include "foundation/Error.h"

namespace tessaly {

/// An Accessibility call that returned a non-zero AXError.
class PreviewAccessibilityError : public Error {
public:
    /// `operation` reads well before " failed", e.g. "Reading AXRole".
    PreviewAccessibilityError(std::string operation, std::int32_t code);

    const std::string& operation() const { return operation_; }
    std::int32_t code() const { return code_; }

private:
    std::string operation_;
    std::int32_t code_;
};

}  // namespace tessaly
