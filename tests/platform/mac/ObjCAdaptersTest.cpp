// The Objective-C++ adapters for login items and the workspace asked the same as the simulations
// they stand for, once directly and once through the adapter over the stand-in classes that route
// into them. (Listing running applications is a port contract, tests/platform/contract.)

#include <gtest/gtest.h>

#include <cerrno>

#include "BalancedReferences.h"
#include "foundation/FileError.h"
#include "mac/CFConversion.h"
#include "mac/MacApplication.h"
#include "mac/MacServiceManagement.h"
#include "mac/MacWorkspace.h"
#include "mac/standin/MacStandin.h"
#include "preview/AccessibilityAuthorization.h"
#include "simulated/SimulatedDesktop.h"
#include "simulated/SimulatedProcessEnvironment.h"
#include "simulated/SimulatedServiceManagement.h"
#include "simulated/SimulatedWorkspace.h"
#include "support/CapturingLog.h"
#include "support/ErrorMessage.h"
#include "support/VirtualRunLoop.h"

namespace tessaly {
namespace {

using testing::messageOf;

const std::string agent = "com.orvanne.tessaly.agent.plist";

/// true: through the Mac adapter.
class ObjCAdapters : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        MacStandin::resetReferenceCounts();
        MacStandin::routeServiceManagement(&loginItems);
        MacStandin::routeWorkspace(&simulatedWorkspace);
    }
    void TearDown() override {
        testing::expectBalancedReferences();
        MacStandin::routeServiceManagement(nullptr);
        MacStandin::routeWorkspace(nullptr);
    }

    ServiceManagement& serviceManagement() {
        return GetParam() ? static_cast<ServiceManagement&>(macLoginItems) : loginItems;
    }
    Workspace& workspace() { return GetParam() ? static_cast<Workspace&>(macWorkspace) : simulatedWorkspace; }

    SimulatedServiceManagement loginItems{agent};
    SimulatedDesktop desktop;
    SimulatedWorkspace simulatedWorkspace{desktop};
    MacServiceManagement macLoginItems;
    MacWorkspace macWorkspace;
};

TEST_P(ObjCAdapters, LoginItemsPassStatusesAndPlatformErrorsThrough) {
    for (int status : {0, 1, 2, 3, 7}) {
        loginItems.setStatus(status);
        EXPECT_EQ(serviceManagement().status(agent), status);
        EXPECT_EQ(serviceManagement().status("com.orvanne.other.plist"), SMAppServiceStatusNotFound);
    }
    serviceManagement().registerService(agent);
    EXPECT_EQ(serviceManagement().status(agent), SMAppServiceStatusEnabled);
    loginItems.failNextRegistration("The operation couldn’t be completed. Operation not permitted");
    EXPECT_EQ(messageOf([&] { serviceManagement().registerService(agent); }),
              "The operation couldn’t be completed. Operation not permitted");
    // Service Management's own code survives the adapter: an item the user switched off.
    loginItems.switchOff();
    const auto denied =
        testing::thrown<ServiceManagementError>([&] { serviceManagement().registerService(agent); });
    EXPECT_EQ(denied.code(), kSMErrorLaunchDeniedByUser);
    EXPECT_STREQ(denied.what(), "Operation not permitted");
    serviceManagement().openSystemSettingsLoginItems();
    loginItems.failNextUnregistration("Job not found.");
    EXPECT_EQ(messageOf([&] { serviceManagement().unregisterService(agent); }), "Job not found.");
    serviceManagement().unregisterService(agent);
    serviceManagement().openSystemSettingsLoginItems();
    const std::vector<std::string> calls{"register " + agent, "register " + agent,   "register " + agent,
                                         "open login items",  "unregister " + agent, "unregister " + agent,
                                         "open login items"};
    EXPECT_EQ(loginItems.calls(), calls);
    EXPECT_EQ(serviceManagement().status(agent), SMAppServiceStatusNotRegistered);
}

TEST_P(ObjCAdapters, WorkspaceOpensRevealsAndTrashes) {
    EXPECT_TRUE(workspace().openURL("x-apple.systempreferences:com.apple.preference.security?Privacy"));
    EXPECT_TRUE(workspace().revealFolder("/Users/ada/Applications"));
    simulatedWorkspace.refuseOpeningURLs();
    simulatedWorkspace.refuseRevealing();
    EXPECT_FALSE(workspace().openURL("x-apple.systempreferences:com.apple.LoginItems-Settings.extension"));
    EXPECT_FALSE(workspace().revealFolder("/Users/ada"));
    EXPECT_EQ(simulatedWorkspace.openedURLs().size(), 1U);
    EXPECT_EQ(simulatedWorkspace.revealedFolders(), std::vector<std::string>{"/Users/ada/Applications"});

    workspace().trashItem("/Applications/Tessaly.app");
    simulatedWorkspace.failTrashing(ENOENT);
    EXPECT_EQ(messageOf([&] { workspace().trashItem("/Applications/Gone.app"); }),
              FileError("Moving to the Trash", "/Applications/Gone.app", ENOENT).what());
    EXPECT_EQ(simulatedWorkspace.trashedItems(), std::vector<std::string>{"/Applications/Tessaly.app"});
}

// A Cocoa error of its own (here NSFileWriteVolumeReadOnlyError) is shown as Foundation words it.
TEST(ObjCWorkspace, ATrashFailurePassesThroughWithFoundationsOwnDescriptionAndAMissingTrashIsAnError) {
    const std::string description =
        "“Tessaly” couldn’t be moved to the Trash because the volume is read only.";
    MacStandin::failNextTrashing(642, description);
    EXPECT_EQ(messageOf([] { MacWorkspace().trashItem("/Volumes/Disk/Tessaly.app"); }), description);
    // GNUstep's file manager finds no Trash and, unlike Apple's, gives no error with its nil: the
    // adapter still throws a sentence instead of reading a description from nothing.
    EXPECT_EQ(messageOf([] { MacWorkspace().trashFolderFor("/Applications/Tessaly.app"); }),
              "The Trash folder could not be found.");
}

INSTANTIATE_TEST_SUITE_P(, ObjCAdapters, ::testing::Bool(),
                         [](const auto& route) { return route.param ? "MacAdapter" : "Simulation"; });

// Whether an object is a tap description is asked last, of whatever no other kind fits.
TEST(ObjCApplication, AuthorizingRunsAnAccessoryApplicationWhoseDelegatePromptsAndTerminatesIt) {
    testing::VirtualRunLoop runLoop;
    MacStandin::routeMainQueue(&runLoop);
    SimulatedDesktop desktop{runLoop};
    SimulatedWorkspace workspace{desktop};
    SimulatedProcessEnvironment process;
    testing::CapturingLog log;
    MacApplication application;
    const int terminations = MacStandin::applicationState().terminations;
    desktop.revokeTrust();
    runLoop.postAfter(30.5, [&] {
        EXPECT_EQ(MacStandin::applicationState().activationPolicy, 1);  // accessory: no Dock icon
        EXPECT_TRUE(MacStandin::applicationState().hasDelegate);
        desktop.grantTrust();
    });
    AccessibilityAuthorization::run({process, application, desktop, workspace, runLoop, log});
    EXPECT_EQ(runLoop.now(), 31);  // the first poll after the grant
    EXPECT_EQ(desktop.promptsShown(), 1);
    EXPECT_EQ(MacStandin::applicationState().terminations, terminations + 1);
    EXPECT_FALSE(MacStandin::applicationState().hasDelegate);
    MacStandin::routeMainQueue(nullptr);
}

TEST(ObjCTapDescription, AnObjectOfNoKnownKindHasNoValue) {
    MacStandin::resetReferenceCounts();
    const UInt8 bytes[] = {1, 2, 3};
    EXPECT_FALSE(CFConversion::value(CFReference::adopt(CFDataCreate(nullptr, bytes, 3)).get(), nullptr));
    testing::expectBalancedReferences();
}

}  // namespace
}  // namespace tessaly
