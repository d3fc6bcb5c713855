#pragma once

#include <gtest/gtest.h>

#include "mac/standin/MacStandin.h"

namespace tessaly::testing {

/// Expects that every Core Foundation reference made or taken since the last reset was given back exactly
/// once. Call it after the adapters that held references have ended.
inline void expectBalancedReferences() {
    const MacStandin::ReferenceCounts counts = MacStandin::referenceCounts();
    EXPECT_TRUE(counts.balanced()) << "made " << counts.made << ", retained " << counts.retained
                                   << ", released " << counts.released << ", released once too often "
                                   << counts.overReleased << ", still alive " << counts.live
                                   << ", Objective-C objects alive " << counts.objectiveCLive;
}

}  // namespace tessaly::testing
