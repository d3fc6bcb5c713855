#pragma once

#include <gtest/gtest.h>

#ifndef __APPLE__
#include "mac/standin/MacStandin.h"
#endif

namespace tessaly::testing {

#ifdef __APPLE__
// The real frameworks keep no count a test could read.
inline void resetReferenceCounts() {}
inline void expectBalancedReferences() {}
#else
inline void resetReferenceCounts() {
    MacStandin::resetReferenceCounts();
}

/// Expects that every Core Foundation reference made or taken since the last reset was given back exactly
/// once. Call it after the adapters that held references have ended.
inline void expectBalancedReferences() {
    const MacStandin::ReferenceCounts counts = MacStandin::referenceCounts();
    EXPECT_TRUE(counts.balanced()) << "made " << counts.made << ", retained " << counts.retained
                                   << ", released " << counts.released << ", released once too often "
                                   << counts.overReleased << ", still alive " << counts.live
                                   << ", Objective-C objects alive " << counts.objectiveCLive;
}
#endif

}  // namespace tessaly::testing
