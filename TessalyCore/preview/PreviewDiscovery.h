#pragma once

#include <vector>

#include "preview/NativePreview.h"
#include "preview/PreviewContainer.h"

namespace tessaly {

/// What scanning one host found, in window order and then child order.
struct PreviewDiscovery {
    /// Fully recognised previews.
    std::vector<NativePreview> previews;
    /// Players whose controls are not exposed yet.
    std::vector<PreviewContainer> waitingForControls;
};

}  // namespace tessaly
