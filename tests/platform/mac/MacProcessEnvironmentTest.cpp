#include <gtest/gtest.h>

#include <unistd.h>

#include "BalancedReferences.h"
#include "mac/MacProcessEnvironment.h"
#include "mac/standin/MacStandin.h"

namespace tessaly {
namespace {

bool operator==(const MainBundle& a, const MainBundle& b) {
    return a.identifier == b.identifier && a.path == b.path && a.infoDictionary == b.infoDictionary;
}

// The main bundle read through CFBundle: an application's with its Info.plist, and a bare
// executable's, which has neither identifier nor Info.plist.
TEST(MacProcessEnvironment, ReadsTheMainBundleAndGivesBackWhatItBorrowed) {
    MainBundle application;
    application.identifier = "com.orvanne.tessaly";
    application.path = "/Users/ada/Applications/Tessaly Ünïcode.app";
    application.infoDictionary = {
        {"CFBundleIdentifier", CFValue("com.orvanne.tessaly")},
        {"CFBundleShortVersionString", CFValue("1.4.0")},
        {"LSUIElement", CFValue(false)},
        {"LSArchitecturePriority", CFValue(CFArray{CFValue("arm64"), CFValue("x86_64")})}};
    MainBundle bareExecutable;
    bareExecutable.path = "/usr/local/bin";

    for (const MainBundle& bundle : {application, bareExecutable}) {
        MacStandin::resetReferenceCounts();
        MacStandin::routeMainBundle(&bundle);
        EXPECT_TRUE(MacProcessEnvironment().mainBundle() == bundle) << bundle.path;
        MacStandin::routeMainBundle(nullptr);
        testing::expectBalancedReferences();
    }
    EXPECT_EQ(MacProcessEnvironment().mainBundle().path, "");
    EXPECT_EQ(MacProcessEnvironment().processID(), ::getpid());
}

}  // namespace
}  // namespace tessaly
