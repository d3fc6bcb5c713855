#pragma once

#include <optional>
#include <string>

#include "values/CFValue.h"
#include "values/ProcessID.h"

namespace tessaly {

/// A Quick Look player whose controls are not exposed yet.
struct PreviewContainer {
    /// The process that owns the window.
    ProcessID hostPID;
    /// The preview window.
    AXUIElement window;
    /// The window's "AXImage" child.
    AXUIElement player;
    /// The file the window shows ("AXDocument"): another file in the same window is another
    /// player that has not shown its controls.
    std::optional<std::string> document;

    friend bool operator==(const PreviewContainer&, const PreviewContainer&) = default;
};

}  // namespace tessaly
