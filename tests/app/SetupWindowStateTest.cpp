#include <gtest/gtest.h>

#include <limits>

#include "WindowStates.h"

namespace tessaly {
namespace {

using testing::runningSnapshot;
using testing::windowStateCases;
using Action = SetupWindowState::PrimaryAction;

// Which of permission, login, restart and uninstall are shown, as in the table.
std::string shown(const SetupWindowState& state) {
    return {state.permissionHidden ? '-' : 'P', state.loginHidden ? '-' : 'L',
            state.restartHidden ? '-' : 'R', state.uninstallHidden ? '-' : 'U'};
}

TEST(SetupWindowState, EachRowOfTheTableShowsItsTextsButtonsAndAction) {
    for (const auto& row : windowStateCases()) {
        const auto state = SetupWindowState::derive(row.snapshot, false);
        EXPECT_EQ(state.status, row.status);
        EXPECT_EQ(state.detail, row.detail) << row.status;
        EXPECT_EQ(state.saved, row.saved) << row.status;
        EXPECT_EQ(state.primaryTitle, row.primaryTitle) << row.status;
        EXPECT_EQ(state.primaryEnabled, row.primaryEnabled) << row.status;
        EXPECT_EQ(shown(state), row.shown) << row.status;
        EXPECT_EQ(SetupWindowState::primaryAction(row.snapshot), row.action) << row.status;

        // Busy disables the main button and changes nothing else.
        auto busy = SetupWindowState::derive(row.snapshot, true);
        EXPECT_FALSE(busy.primaryEnabled) << row.status;
        busy.primaryEnabled = state.primaryEnabled;
        EXPECT_EQ(busy, state) << row.status;
    }
}

TEST(SetupWindowState, RegistrationTextsAreComparedExactly) {
    const auto off = SetupWindowState::derive(testing::installedSnapshot(), false);
    for (const char* registration : {"Enabled", "enabled ", "requires_approval", "not-found", "unknown"}) {
        SetupSnapshot snapshot = runningSnapshot();
        snapshot.registration = registration;
        const auto state = SetupWindowState::derive(snapshot, false);
        EXPECT_EQ(state.status, off.status) << registration;
        EXPECT_EQ(shown(state), shown(off)) << registration;
        EXPECT_EQ(SetupWindowState::primaryAction(snapshot), Action::enable) << registration;
    }
}

TEST(SetupWindowState, TheSavedLineIsMutedUnavailableOrWholePercentsRoundedHalfAwayFromZero) {
    const double infinity = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<double, std::string>> cases{
        {0.0, "Remembered choice: Muted"},
        {-0.0, "Remembered choice: Muted"},
        // 12.5 and 62.5 are exact in binary: rounding half to even would give 12 and 62.
        {0.125, "Remembered volume: 13%"},
        {0.625, "Remembered volume: 63%"},
        {1.0, "Remembered volume: 100%"},
        {0.994, "Remembered volume: 99%"},
        // A tiny audible volume is not muted.
        {0.004, "Remembered volume: 0%"},
        {std::numeric_limits<double>::quiet_NaN(), "The saved audio choice is unavailable."},
        {infinity, "The saved audio choice is unavailable."}};
    for (const auto& [volume, line] : cases) EXPECT_EQ(SetupWindowState::savedLine(volume), line) << volume;
}

}  // namespace
}  // namespace tessaly
