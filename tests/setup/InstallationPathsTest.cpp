#include <gtest/gtest.h>

#include "InstallationFixture.h"
#include "foundation/FileError.h"
#include "foundation/TessalyError.h"

namespace tessaly {
namespace {

using testing::InstallationFixture;
using testing::messageOf;
using testing::writeFile;

using InstallationLocationsTest = InstallationFixture;

TEST_F(InstallationLocationsTest, EveryPerUserLocationLiesBelowTheHomeFolder) {
    EXPECT_EQ(paths.userApplicationsCopy(), home + "/Applications/Tessaly.app");
    EXPECT_EQ(paths.installedHelper(), home + "/Applications/Tessaly.app/Contents/MacOS/tessaly-helper");
    EXPECT_EQ(paths.supportFolder(), home + "/Library/Application Support/Tessaly");
    EXPECT_EQ(paths.legacyCommandLink(), home + "/.local/bin/tessaly");
    EXPECT_EQ(paths.legacyAgent(), home + "/Library/LaunchAgents/com.orvanne.tessaly.plist");
    EXPECT_EQ(paths.legacySupportCommand(), home + "/Library/Application Support/Tessaly/tessaly");
    EXPECT_EQ(paths.legacySupportHelper(), home + "/Library/Application Support/Tessaly/tessaly-helper");
}

TEST_F(InstallationLocationsTest, LegacySupportFilesAreListedInRemovalOrder) {
    const std::string folder = home + "/Library/Application Support/Tessaly/";
    EXPECT_EQ(paths.legacySupportFiles(),
              (std::vector<std::string>{folder + "tessaly", folder + "install-common.sh",
                                        folder + "signing-identity", folder + "tessaly-helper"}));
}

TEST_F(InstallationLocationsTest, TheSystemCopyIsInTheSystemApplicationsFolder) {
    EXPECT_EQ(InstallationPaths("/home/someone").systemApplicationsCopy(), "/Applications/Tessaly.app");
    EXPECT_EQ(paths.systemApplicationsCopy(), systemApplications + "/Tessaly.app");
}

TEST_F(InstallationLocationsTest, AHomeWithATrailingSlashGivesTheSamePaths) {
    // The legacy command link is compared as text, so a stray slash in $HOME must not leak in.
    InstallationPaths slashed(home + "/", systemApplications, 0);
    EXPECT_EQ(slashed.home(), home);
    EXPECT_EQ(slashed.legacySupportCommand(), paths.legacySupportCommand());
}

using InstalledCopyTest = InstallationFixture;

TEST_F(InstalledCopyTest, TheUserApplicationsCopyCountsAsInstalled) {
    makeBundle(paths.userApplicationsCopy());
    EXPECT_TRUE(paths.isInstalled(paths.userApplicationsCopy()));
}

TEST_F(InstalledCopyTest, TheSystemApplicationsCopyCountsAsInstalled) {
    makeBundle(paths.systemApplicationsCopy());
    EXPECT_TRUE(paths.isInstalled(paths.systemApplicationsCopy()));
}

TEST_F(InstalledCopyTest, ABundlePathIsStandardizedBeforeItIsCompared) {
    // A bundle's own URL carries a trailing slash; other spellings reach the same folder.
    makeBundle(paths.userApplicationsCopy());
    std::filesystem::create_directories(home + "/Downloads");
    EXPECT_TRUE(paths.isInstalled(paths.userApplicationsCopy() + "/"));
    EXPECT_TRUE(paths.isInstalled(home + "/./Applications//Tessaly.app"));
    EXPECT_TRUE(paths.isInstalled(home + "/Downloads/../Applications/Tessaly.app"));
}

TEST_F(InstalledCopyTest, ACopyInDownloadsDoesNotCount) {
    makeBundle(home + "/Downloads/Tessaly.app");
    EXPECT_FALSE(paths.isInstalled(home + "/Downloads/Tessaly.app"));
}

TEST_F(InstalledCopyTest, ACopyReachedThroughALinkedApplicationsFolderDoesNotCount) {
    makeBundle(root + "/elsewhere/Tessaly.app");
    makeLink(root + "/elsewhere", systemApplications);
    EXPECT_FALSE(paths.isInstalled(paths.systemApplicationsCopy()));
}

TEST_F(InstalledCopyTest, ALinkedBundleDoesNotCount) {
    makeBundle(home + "/Downloads/Tessaly.app");
    makeLink(home + "/Downloads/Tessaly.app", paths.userApplicationsCopy());
    EXPECT_FALSE(paths.isInstalled(paths.userApplicationsCopy()));
}

TEST_F(InstalledCopyTest, ADotDotThroughALinkedFolderDoesNotCount) {
    // Lexically this is the user copy, but the link leads the ".." somewhere else.
    makeBundle(paths.userApplicationsCopy());
    makeBundle(root + "/other/Applications/Tessaly.app");
    makeLink(root + "/other/Applications", home + "/Shortcut");
    EXPECT_FALSE(paths.isInstalled(home + "/Shortcut/../Applications/Tessaly.app"));
}

TEST_F(InstalledCopyTest, ACopyThatIsGoneDoesNotCount) {
    // The running copy was moved to the Trash: it can no longer be proved to be unredirected.
    EXPECT_FALSE(paths.isInstalled(paths.userApplicationsCopy()));
}

using ExistingRegularFileTest = InstallationFixture;

TEST_F(ExistingRegularFileTest, APlainFileIsThere) {
    writeFile(home + "/file", "x");
    EXPECT_TRUE(InstallationPaths::existingRegularFile(home + "/file"));
}

TEST_F(ExistingRegularFileTest, NothingThereIsNoError) {
    EXPECT_FALSE(InstallationPaths::existingRegularFile(home + "/missing"));
    EXPECT_FALSE(InstallationPaths::existingRegularFile(home + "/missing/folder/file"));
}

TEST_F(ExistingRegularFileTest, ALinkToAFileIsRefused) {
    writeFile(home + "/file", "x");
    makeLink(home + "/file", home + "/link");
    EXPECT_EQ(messageOf([&] { InstallationPaths::existingRegularFile(home + "/link"); }),
              redirectedMessage(home + "/link"));
}

TEST_F(ExistingRegularFileTest, ADanglingLinkIsRefusedRatherThanMissing) {
    makeLink(home + "/nowhere", home + "/link");
    EXPECT_EQ(messageOf([&] { InstallationPaths::existingRegularFile(home + "/link"); }),
              redirectedMessage(home + "/link"));
}

TEST_F(ExistingRegularFileTest, AFolderIsRefused) {
    std::filesystem::create_directories(home + "/folder");
    EXPECT_EQ(messageOf([&] { InstallationPaths::existingRegularFile(home + "/folder"); }),
              redirectedMessage(home + "/folder"));
}

TEST_F(ExistingRegularFileTest, AFileReachedThroughALinkedFolderIsRefused) {
    writeFile(root + "/real/file", "x");
    makeLink(root + "/real", home + "/linked");
    EXPECT_EQ(messageOf([&] { InstallationPaths::existingRegularFile(home + "/linked/file"); }),
              redirectedMessage(home + "/linked/file"));
}

TEST_F(ExistingRegularFileTest, OtherFailuresPassThroughUnchanged) {
    writeFile(home + "/plain", "x");
    try {
        InstallationPaths::existingRegularFile(home + "/plain/file");
        FAIL() << "a path below a plain file was accepted";
    } catch (const FileError& error) {
        EXPECT_EQ(error.code(), FileError::Code::other);
        EXPECT_STREQ(
            error.what(),
            ("Reading \xE2\x80\x9C" + home + "/plain/file\xE2\x80\x9D failed: Not a directory.").c_str());
    }
}

}  // namespace
}  // namespace tessaly
