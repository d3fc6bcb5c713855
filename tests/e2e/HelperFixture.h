#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ProcessRunner.h"
#include "support/TemporaryDirectory.h"

namespace tessaly::testing {

/// Runs the built tessaly-helper with a home and runtime folder of its own.
class HelperFixture : public ::testing::Test {
protected:
    HelperFixture()
        : runner({{"HOME", home.path()},
                  {"XDG_RUNTIME_DIR", runtime.path()},
                  {"XDG_STATE_HOME", home / "state"}}) {}

    ProcessResult helper(const std::vector<std::string>& arguments, double timeoutSeconds = 20) const {
        return runner.run(TESSALY_HELPER_PATH, arguments, timeoutSeconds);
    }

    TemporaryDirectory home;
    TemporaryDirectory runtime;
    ProcessRunner runner;
};

}  // namespace tessaly::testing
