#include <gtest/gtest.h>

#include <functional>

#include "InstallationFixture.h"
#include "foundation/FileError.h"

namespace tessaly {
namespace {

using testing::InstallationFixture;
using testing::messageOf;
using testing::writeFile;

using InstallationLocationsTest = InstallationFixture;

TEST_F(InstallationLocationsTest, AStraySlashInTheHomeFolderDoesNotLeakIntoThePathsComparedAsText) {
    const InstallationPaths spelled(home + "/", systemApplications, 0);
    EXPECT_EQ(spelled.home(), home);
    EXPECT_EQ(spelled.legacyCommandLink(), home + "/.local/bin/tessaly");
    EXPECT_EQ(spelled.legacyAgent(), paths.legacyAgent());
    EXPECT_EQ(spelled.legacySupportFiles(), paths.legacySupportFiles());
    EXPECT_EQ(spelled.installedHelper(), paths.installedHelper());
}

using InstalledCopyTest = InstallationFixture;

TEST_F(InstalledCopyTest, OnlyTheTwoApplicationsCopiesCountAnySpellingButNoRedirection) {
    const struct {
        const char* what;
        std::function<void()> arrange;
        std::string path;
        bool installed;
    } cases[] = {
        {"the user copy", [&] { makeBundle(paths.userApplicationsCopy()); }, paths.userApplicationsCopy(),
         true},
        {"the system copy", [&] { makeBundle(paths.systemApplicationsCopy()); },
         paths.systemApplicationsCopy(), true},
        // A bundle's own URL carries a trailing slash; other spellings reach the same folder.
        {"a trailing slash", [&] { makeBundle(paths.userApplicationsCopy()); },
         paths.userApplicationsCopy() + "/", true},
        {"dots and double slashes", [&] { makeBundle(paths.userApplicationsCopy()); },
         home + "/./Applications//Tessaly.app", true},
        {"a dot-dot",
         [&] {
             makeBundle(paths.userApplicationsCopy());
             std::filesystem::create_directories(home + "/Downloads");
         },
         home + "/Downloads/../Applications/Tessaly.app", true},
        {"a copy in Downloads", [&] { makeBundle(home + "/Downloads/Tessaly.app"); },
         home + "/Downloads/Tessaly.app", false},
        {"a linked Applications folder",
         [&] {
             makeBundle(root + "/elsewhere/Tessaly.app");
             makeLink(root + "/elsewhere", systemApplications);
         },
         paths.systemApplicationsCopy(), false},
        {"a linked bundle",
         [&] {
             makeBundle(home + "/Downloads/Tessaly.app");
             makeLink(home + "/Downloads/Tessaly.app", paths.userApplicationsCopy());
         },
         paths.userApplicationsCopy(), false},
        // Lexically this is the user copy, but the link leads the ".." somewhere else.
        {"a dot-dot through a linked folder",
         [&] {
             makeBundle(paths.userApplicationsCopy());
             makeBundle(root + "/other/Applications/Tessaly.app");
             makeLink(root + "/other/Applications", home + "/Shortcut");
         },
         home + "/Shortcut/../Applications/Tessaly.app", false},
        // The running copy was moved to the Trash: it can no longer be proved to be unredirected.
        {"a copy that is gone", [] {}, paths.userApplicationsCopy(), false},
    };
    for (const auto& copy : cases) {
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(home);
        copy.arrange();
        EXPECT_EQ(paths.isInstalled(copy.path), copy.installed) << copy.what;
    }
}

using ExistingRegularFileTest = InstallationFixture;

TEST_F(ExistingRegularFileTest, APlainFileIsThereNothingIsNoErrorAndAnythingElseIsRefused) {
    writeFile(home + "/file", "x");
    EXPECT_TRUE(InstallationPaths::existingRegularFile(home + "/file"));
    EXPECT_FALSE(InstallationPaths::existingRegularFile(home + "/missing"));
    EXPECT_FALSE(InstallationPaths::existingRegularFile(home + "/missing/folder/file"));

    makeLink(home + "/file", home + "/link");
    makeLink(home + "/nowhere", home + "/dangling");  // refused rather than missing
    std::filesystem::create_directories(home + "/folder");
    writeFile(root + "/real/file", "x");
    makeLink(root + "/real", home + "/linked");
    for (const std::string& refused :
         {home + "/link", home + "/dangling", home + "/folder", home + "/linked/file"}) {
        EXPECT_EQ(messageOf([&] { InstallationPaths::existingRegularFile(refused); }),
                  redirectedMessage(refused));
    }

    const auto error =
        testing::thrown<FileError>([&] { InstallationPaths::existingRegularFile(home + "/file/below"); });
    EXPECT_EQ(error.code(), FileError::Code::other);
    EXPECT_STREQ(
        error.what(),
        ("Reading \xE2\x80\x9C" + home + "/file/below\xE2\x80\x9D failed: Not a directory.").c_str());
}

}  // namespace
}  // namespace tessaly
