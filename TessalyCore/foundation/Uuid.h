#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tessaly {

/// A random (version 4) UUID, used where Core Audio objects need identifiers of their own.
class Uuid {
public:
    /// A new random UUID.
    static Uuid random();

    /// The standard text form in upper case, 36 characters ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F").
    std::string text() const;

private:
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    std::array<std::uint8_t, 16> bytes_;
};

}  // namespace tessaly
