#pragma once

#include "foundation/Error.h"

namespace tessaly {

/// The core library's own error: one complete user-facing sentence.
class TessalyError : public Error {
public:
    explicit TessalyError(const std::string& message) : Error(message) {}

    /// The sentence this error carries.
    std::string message() const { return what(); }
};

}  // namespace tessaly
