#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ProcessRunner.h"
#include "support/TemporaryDirectory.h"

namespace tessaly::testing {

/// A user of its own for the built executables: a home and a runtime folder, with the state, data
/// and configuration folders below the home, so that nothing touches the machine's own.
class UserFixture : public ::testing::Test {
protected:
    UserFixture()
        : runner({{"HOME", home.path()},
                  {"XDG_RUNTIME_DIR", runtime.path()},
                  {"XDG_STATE_HOME", home / ".local/state"},
                  {"XDG_DATA_HOME", home / ".local/share"},
                  {"XDG_CONFIG_HOME", home / ".config"}}) {}

    ProcessResult helper(const std::vector<std::string>& arguments, double timeoutSeconds = 20) const {
        return runner.run(TESSALY_HELPER_PATH, arguments, timeoutSeconds);
    }

    std::string installedBundle() const { return home / "Applications/Tessaly.app"; }
    std::string installedApp() const { return installedBundle() + "/Contents/MacOS/Tessaly"; }
    std::string installedHelper() const { return installedBundle() + "/Contents/MacOS/tessaly-helper"; }
    /// Copies the built bundle into the user's Applications folder.
    void install() const {
        const auto bundle = std::filesystem::path(TESSALY_APP_PATH).parent_path().parent_path().parent_path();
        std::filesystem::create_directories(home / "Applications");
        std::filesystem::copy(bundle, installedBundle(), std::filesystem::copy_options::recursive);
    }

    TemporaryDirectory home;
    TemporaryDirectory runtime;
    ProcessRunner runner;
};

}  // namespace tessaly::testing
