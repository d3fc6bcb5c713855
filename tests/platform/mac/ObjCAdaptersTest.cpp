// The Objective-C++ adapters (login items, workspace) asked the same as the simulations they stand
// for, once directly and once through the adapter over the stand-in classes that route into them.

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "BalancedReferences.h"
#include "foundation/FileError.h"
#include "mac/MacServiceManagement.h"
#include "mac/MacWorkspace.h"
#include "mac/standin/MacStandin.h"
#include "simulated/SimulatedDesktop.h"
#include "simulated/SimulatedServiceManagement.h"
#include "simulated/SimulatedWorkspace.h"
#include "support/ErrorMessage.h"

namespace tessaly {
namespace {

using testing::messageOf;
using testing::Route;
using testing::thrown;

const std::string agent = "com.orvanne.tessaly.agent.plist";

class ObjCAdapters : public ::testing::TestWithParam<Route> {
protected:
    void SetUp() override {
        if (GetParam() == Route::simulation) return;
        MacStandin::resetReferenceCounts();
        MacStandin::routeServiceManagement(&loginItems);
        MacStandin::routeWorkspace(&simulatedWorkspace);
        macLoginItems = std::make_unique<MacServiceManagement>();
        macWorkspace = std::make_unique<MacWorkspace>();
    }
    void TearDown() override {
        if (GetParam() == Route::simulation) return;
        macLoginItems.reset();
        macWorkspace.reset();
        testing::expectBalancedReferences();
        MacStandin::routeServiceManagement(nullptr);
        MacStandin::routeWorkspace(nullptr);
    }

    ServiceManagement& serviceManagement() {
        return macLoginItems ? static_cast<ServiceManagement&>(*macLoginItems) : loginItems;
    }
    Workspace& workspace() { return macWorkspace ? static_cast<Workspace&>(*macWorkspace) : simulatedWorkspace; }

    SimulatedServiceManagement loginItems;
    SimulatedDesktop desktop;
    SimulatedWorkspace simulatedWorkspace{desktop};
    std::unique_ptr<MacServiceManagement> macLoginItems;
    std::unique_ptr<MacWorkspace> macWorkspace;
};

TEST_P(ObjCAdapters, LoginItemsPassStatusesAndPlatformErrorsThrough) {
    for (int status : {0, 1, 2, 3, 7}) {
        loginItems.setStatus(status);
        EXPECT_EQ(serviceManagement().status(agent), status);
    }
    serviceManagement().registerService(agent);
    EXPECT_EQ(serviceManagement().status(agent), SMAppServiceStatusEnabled);
    loginItems.failNextRegistration("The operation couldn’t be completed. Operation not permitted");
    EXPECT_EQ(messageOf([&] { serviceManagement().registerService(agent); }),
              "The operation couldn’t be completed. Operation not permitted");
    loginItems.failNextUnregistration("Job not found.");
    EXPECT_EQ(messageOf([&] { serviceManagement().unregisterService(agent); }), "Job not found.");
    serviceManagement().unregisterService(agent);
    serviceManagement().openSystemSettingsLoginItems();
    EXPECT_EQ(loginItems.calls(), (std::vector<std::string>{"register " + agent, "register " + agent,
                                                            "unregister " + agent, "unregister " + agent,
                                                            "open login items"}));
    EXPECT_EQ(serviceManagement().status(agent), SMAppServiceStatusNotRegistered);
}

TEST_P(ObjCAdapters, WorkspaceListsOpensRevealsAndTrashes) {
    desktop.launchApplication("com.apple.finder", 301);
    desktop.launchApplication("com.apple.finder", 302);
    const auto finders = workspace().runningApplications("com.apple.finder");
    ASSERT_EQ(finders.size(), 2U);
    EXPECT_EQ(finders[1].processIdentifier, 302);
    EXPECT_EQ(finders[1].bundleIdentifier, "com.apple.finder");
    EXPECT_TRUE(workspace().runningApplications("com.orvanne.none").empty());

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
    const auto failure = thrown<FileError>([&] { workspace().trashItem("/Applications/Gone.app"); });
    EXPECT_EQ(failure.errorNumber(), ENOENT);
    EXPECT_STREQ(failure.what(), FileError("Moving to the Trash", "/Applications/Gone.app", ENOENT).what());
    EXPECT_EQ(simulatedWorkspace.trashedItems(), std::vector<std::string>{"/Applications/Tessaly.app"});
}

INSTANTIATE_TEST_SUITE_P(Routes, ObjCAdapters, ::testing::Values(Route::simulation, Route::macAdapter),
                         testing::routeName);

// GNUstep's file manager finds no Trash and, unlike Apple's, gives no error with its nil: the
// adapter still throws a sentence instead of reading a description from nothing.
TEST(ObjCWorkspace, ATrashThatCannotBeFoundIsAnErrorEvenWithoutOne) {
    EXPECT_EQ(messageOf([] { MacWorkspace().trashFolderFor("/Applications/Tessaly.app"); }),
              "The Trash folder could not be found.");
}

}  // namespace
}  // namespace tessaly
