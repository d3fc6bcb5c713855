#include "foundation/Version.h"
#include "support/UserFixture.h"

namespace tessaly::testing {
namespace {

using HelperCommandLineTest = UserFixture;

TEST_F(HelperCommandLineTest,
       VersionAndHelpPrintOneLineAnythingButAWholeAcceptedVectorIsRefusedAndSoIsAuthorizingTheTerminal) {
    for (const auto& [arguments, out] :
         {std::pair<std::string, std::string>{"--version", "Tessaly " + std::string(version) + "\n"},
          {"--help", "Usage: tessaly-helper run | authorize | status [--json] | stop | --version\n"}}) {
        const auto printed = helper({arguments});
        EXPECT_EQ(printed.exitStatus, 0);
        EXPECT_EQ(printed.out, out);
        EXPECT_EQ(printed.err, "");
    }
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
        EXPECT_EQ(result.err, "Tessaly: Invalid arguments. Use 'tessaly-helper --help'.\n")
            << arguments.front();
    }
    // Authorizing is for the application, never for the terminal.
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, {"authorize"}}) {
        const auto result = helper(arguments);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(
            result.err,
            "Tessaly: Open Tessaly as an application with 'tessaly authorize'; do not authorize the terminal.\n");
    }
}

}  // namespace
}  // namespace tessaly::testing
