#include <gtest/gtest.h>

#include "preview/AccessibilityAuthorization.h"
#include "simulated/SimulatedApplication.h"
#include "simulated/SimulatedDesktop.h"
#include "simulated/SimulatedProcessEnvironment.h"
#include "simulated/SimulatedWorkspace.h"
#include "support/CapturingLog.h"
#include "support/ErrorMessage.h"
#include "support/VirtualRunLoop.h"

namespace tessaly::testing {
namespace {

const std::string terminalMessage =
    "Open Tessaly as an application with 'tessaly authorize'; do not authorize the terminal.";

class AccessibilityAuthorizationTest : public ::testing::Test {
protected:
    /// Runs the flow; returns the virtual time at which the application terminated.
    double authorize() {
        AccessibilityAuthorization::run({process, application, desktop, workspace, runLoop, log});
        return runLoop.now();
    }

    std::string refusal() {
        return messageOf([&] { authorize(); });
    }

    VirtualRunLoop runLoop;
    SimulatedApplication application{runLoop};
    CapturingLog log;
    SimulatedDesktop desktop{runLoop};
    SimulatedWorkspace workspace{desktop};
    SimulatedProcessEnvironment process;
};

TEST_F(AccessibilityAuthorizationTest, RefusesAProcessNotOpenedAsTheApplication) {
    process.parentPID = 3120;  // a shell
    EXPECT_EQ(refusal(), terminalMessage);
    process.parentPID = 1;
    process.bundle.identifier.reset();
    EXPECT_EQ(refusal(), terminalMessage);
    process.bundle.identifier = "com.example.other";
    EXPECT_EQ(refusal(), terminalMessage);
    process.bundle.identifier = "com.orvanne.tessaly";
    process.bundle.path = "/Users/tess/Downloads/Tessaly";
    EXPECT_EQ(refusal(), terminalMessage);
    EXPECT_EQ(desktop.promptsShown(), 0);
    EXPECT_EQ(application.terminations(), 0);  // never an application
}

TEST_F(AccessibilityAuthorizationTest,
       EndsAtOnceWhenTrustedElsePromptsOpensSettingsAndEndsAtTheFirstPollAfterTheGrant) {
    EXPECT_EQ(authorize(), 0);
    EXPECT_TRUE(workspace.openedURLs().empty());

    desktop.revokeTrust();
    runLoop.postAfter(30.5, [&] { desktop.grantTrust(); });
    EXPECT_EQ(authorize(), 31);
    EXPECT_EQ(desktop.promptsShown(), 1);
    EXPECT_EQ(workspace.openedURLs(),
              std::vector<std::string>{
                  "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"});
}

TEST_F(AccessibilityAuthorizationTest, GivesUpAfterTwoMinutesAndLogsASettingsFailure) {
    desktop.revokeTrust();
    workspace.refuseOpeningURLs();
    EXPECT_EQ(authorize(), 120);
    EXPECT_EQ(
        log.messages("authorization"),
        std::vector<std::string>{
            "Cannot open Accessibility settings. Open System Settings > Privacy & Security > Accessibility manually."});
}

}  // namespace
}  // namespace tessaly::testing
