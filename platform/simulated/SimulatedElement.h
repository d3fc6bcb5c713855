#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ports/Accessibility.h"
#include "values/CFValue.h"
#include "values/ProcessID.h"

namespace tessaly {

/// One element of the simulated desktop's Accessibility tree. "AXRole", "AXChildren",
/// "AXParent" and "AXWindows" come from the tree itself; other attributes are stored.
struct SimulatedElement {
    std::uint64_t identity = 0;
    ProcessID pid = 0;
    std::optional<std::string> role;
    std::optional<std::uint64_t> parent;
    std::vector<std::uint64_t> children;
    /// Children kept but not exposed, as a player does with its controls while they are hidden.
    bool childrenHidden = false;
    /// Stored attributes; a name without a value answers kAXErrorNoValue, a missing name
    /// kAXErrorAttributeUnsupported.
    std::map<std::string, std::optional<CFValue>> attributes;
    /// Answers that replace whatever the element would say, for shapes the real tree can take.
    std::map<std::string, std::optional<CFValue>> overrides;
    /// Attribute reads that fail with a chosen status.
    std::map<std::string, AXError> readFailures;
    std::set<std::string> settableAttributes;
    std::set<std::string> actions;
    std::optional<float> messagingTimeout;
    /// False once the element is destroyed: every call on it answers kAXErrorInvalidUIElement.
    bool alive = true;
};

}  // namespace tessaly
