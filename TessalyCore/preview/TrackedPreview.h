#pragma once

#include "preview/NativePreview.h"

namespace tessaly {

/// A preview the controller keeps in step, with the volume it last saw in or put into it.
struct TrackedPreview {
    /// The recognised preview.
    NativePreview preview;
    /// The volume last seen in, or restored into, the preview; a different reading is the user's change.
    double lastVolume = 0;
};

}  // namespace tessaly
