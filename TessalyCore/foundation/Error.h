#pragma once

#include <stdexcept>
#include <string>

namespace tessaly {

/// Base of every error the system throws: what() is the finished sentence shown to the user.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& description) : std::runtime_error(description) {}

    /// The user-facing sentence, exactly as it is shown after "Tessaly: ".
    std::string description() const { return what(); }
};

}  // namespace tessaly
