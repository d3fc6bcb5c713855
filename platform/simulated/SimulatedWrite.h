#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "values/CFValue.h"

namespace tessaly {

/// One change made through the Accessibility port (not by the simulated user): an attribute
/// set or an action performed, in the order they happened.
struct SimulatedWrite {
    AXUIElement element;
    /// The attribute set, or the action performed.
    std::string name;
    /// The value set; none for an action.
    std::optional<CFValue> value;

    /// An "AXValue" set to `number`.
    static SimulatedWrite setValue(const AXUIElement& element, double number) {
        return {element, "AXValue", CFValue(number)};
    }
    /// An "AXPress".
    static SimulatedWrite press(const AXUIElement& element) { return {element, "AXPress", std::nullopt}; }

    friend bool operator==(const SimulatedWrite&, const SimulatedWrite&) = default;

    friend std::ostream& operator<<(std::ostream& out, const SimulatedWrite& write) {
        out << write.name << " on element " << write.element.identity();
        if (write.value && write.value->number()) out << " = " << *write.value->number();
        return out;
    }
};

}  // namespace tessaly
