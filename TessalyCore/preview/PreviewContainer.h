#pragma once

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

    friend bool operator==(const PreviewContainer&, const PreviewContainer&) = default;
};

}  // namespace tessaly
