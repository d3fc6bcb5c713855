#include "HelperFixture.h"

namespace tessaly::testing {
namespace {

using HelperCommandLineTest = HelperFixture;

const std::string invalidArguments = "Tessaly: Invalid arguments. Use 'tessaly-helper --help'.\n";

TEST_F(HelperCommandLineTest, VersionPrintsOneLine) {
    auto result = helper({"--version"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "Tessaly 1.4.0\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(HelperCommandLineTest, HelpPrintsTheUsageLine) {
    auto result = helper({"--help"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "Usage: tessaly-helper run | authorize | status [--json] | stop | --version\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(HelperCommandLineTest, AnythingButAWholeAcceptedVectorIsRefused) {
    const std::vector<std::vector<std::string>> invalid = {
        {"--json"},
        {"status", "--JSON"},
        {"help"},
        {"-h"},
        {"--json", "status"},
        {"status", "--json", "--json"},
        {"run", "now"},
        {"RUN"},
        {"--version", "--help"},
        {""},
        {"stat"},
    };
    for (const auto& arguments : invalid) {
        auto result = helper(arguments);
        EXPECT_EQ(result.exitStatus, 1) << arguments.front();
        EXPECT_EQ(result.out, "") << arguments.front();
        EXPECT_EQ(result.err, invalidArguments) << arguments.front();
    }
}

}  // namespace
}  // namespace tessaly::testing
