#pragma once
// The system's counterpart of a Core Foundation object: an immutable, shared value that is
// a text, a number, a boolean, an array, a dictionary, an Accessibility element or a Core
// Audio tap description. Type checks ("not a text", "not a number") and CFEqual map onto it.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace tessaly {

struct CATapDescription;

/// An Accessibility element handle. Handles compare by identity, like AXUIElementRef.
class AXUIElement {
public:
    explicit AXUIElement(std::uint64_t identity) : identity_(identity) {}
    std::uint64_t identity() const { return identity_; }
    friend bool operator==(const AXUIElement&, const AXUIElement&) = default;
    friend auto operator<=>(const AXUIElement&, const AXUIElement&) = default;

private:
    std::uint64_t identity_;
};

class CFValue;
using CFArray = std::vector<CFValue>;
using CFDictionary = std::map<std::string, CFValue>;

class CFValue {
public:
    CFValue(std::string text) : storage_(std::move(text)) {}
    CFValue(const char* text) : storage_(std::string(text)) {}
    CFValue(double number) : storage_(number) {}
    CFValue(bool flag) : storage_(flag) {}
    CFValue(CFArray array) : storage_(std::make_shared<const CFArray>(std::move(array))) {}
    CFValue(CFDictionary dictionary)
        : storage_(std::make_shared<const CFDictionary>(std::move(dictionary))) {}
    CFValue(AXUIElement element) : storage_(element) {}
    CFValue(CATapDescription description);

    // Integers are numbers; without these an int would pick the boolean constructor.
    CFValue(int number) : storage_(static_cast<double>(number)) {}
    CFValue(std::uint32_t number) : storage_(static_cast<double>(number)) {}

    /// The value as a text, or null when it is of another type.
    const std::string* text() const { return std::get_if<std::string>(&storage_); }
    /// The value as a number, or null when it is of another type (a boolean is not a number).
    const double* number() const { return std::get_if<double>(&storage_); }
    /// The value as a boolean, or null when it is of another type.
    const bool* boolean() const { return std::get_if<bool>(&storage_); }
    /// The value as an array, or null when it is of another type.
    const CFArray* array() const;
    /// The value as a dictionary, or null when it is of another type.
    const CFDictionary* dictionary() const;
    /// The value as an Accessibility element, or null when it is of another type.
    const AXUIElement* element() const { return std::get_if<AXUIElement>(&storage_); }
    /// The value as a tap description, or null when it is of another type.
    const CATapDescription* tapDescription() const;

    /// CFEqual: same type and equal contents; elements by identity.
    friend bool operator==(const CFValue& a, const CFValue& b);

private:
    std::variant<std::string, double, bool, std::shared_ptr<const CFArray>,
                 std::shared_ptr<const CFDictionary>, AXUIElement, std::shared_ptr<const CATapDescription>>
        storage_;
};

}  // namespace tessaly
