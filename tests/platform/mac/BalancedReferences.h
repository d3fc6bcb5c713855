#pragma once

#include <gtest/gtest.h>

#include <string>

#include "mac/standin/MacStandin.h"

namespace tessaly::testing {

/// Expects that every Core Foundation reference made or taken since the last reset was given back exactly
/// once. Call it after the adapters that held references have ended.
inline void expectBalancedReferences() {
    const MacStandin::ReferenceCounts counts = MacStandin::referenceCounts();
    EXPECT_TRUE(counts.balanced()) << "made " << counts.made << ", retained " << counts.retained
                                   << ", released " << counts.released << ", released once too often "
                                   << counts.overReleased << ", still alive " << counts.live;
}

/// Whom a contract test asks: the simulation itself, or the Mac adapter over the stand-in
/// frameworks that route into the same simulation.
enum class Route { simulation, macAdapter };

/// Names the two instances of a contract test.
inline std::string routeName(const ::testing::TestParamInfo<Route>& route) {
    return route.param == Route::simulation ? "Simulation" : "MacAdapter";
}

}  // namespace tessaly::testing
