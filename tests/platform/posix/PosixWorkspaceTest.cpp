// The workspace on Linux: the freedesktop.org Trash, xdg-open, no running applications.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>

#include "foundation/FileError.h"
#include "foundation/FileSystem.h"
#include "foundation/TessalyError.h"
#include "posix/PosixWorkspace.h"
#include "support/RealProcesses.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace tessaly {
namespace {

using testing::readFile;
using testing::ScopedEnvironment;
using testing::TemporaryDirectory;
using testing::writeFile;

std::string quoted(const std::string& text) {
    return "\xE2\x80\x9C" + text + "\xE2\x80\x9D";
}

class TrashTest : public ::testing::Test {
protected:
    std::string trash() const { return folder / "share/Trash"; }
    std::string info(const std::string& name) const { return trash() + "/info/" + name + ".trashinfo"; }
    std::string trashed(const std::string& name) const { return trash() + "/files/" + name; }

    TemporaryDirectory folder;
    PosixWorkspace workspace{folder / "share/Trash", ""};
};

// ---- Moving to the Trash ----

using TrashItem = TrashTest;

TEST_F(TrashItem, MovesTheItemAndRecordsWhereItCameFromAndWhen) {
    const std::string item = folder / "Applications/Tessaly.app";
    writeFile(item + "/Contents/Info.plist", "plist");

    workspace.trashItem(item);

    EXPECT_FALSE(FileSystem::exists(item));
    EXPECT_EQ(readFile(trashed("Tessaly.app") + "/Contents/Info.plist"), "plist");
    const std::string content = readFile(info("Tessaly.app"));
    const std::regex expected("\\[Trash Info\\]\nPath=" + item +
                              "\nDeletionDate=\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\n");
    EXPECT_TRUE(std::regex_match(content, expected)) << content;
}

TEST_F(TrashItem, TheDeletionDateIsTheLocalTimeOfTrashing) {
    std::tm recorded{};
    std::tm universal{};
    std::time_t before = 0;
    {
        ScopedEnvironment zone("TZ", "UTC+5");
        ::tzset();
        const std::string item = folder / "item";
        writeFile(item, "");
        before = std::time(nullptr);

        workspace.trashItem(item);

        const std::string content = readFile(info("item"));
        const auto at = content.find("DeletionDate=");
        ASSERT_NE(at, std::string::npos);
        ASSERT_NE(::strptime(content.c_str() + at + 13, "%Y-%m-%dT%H:%M:%S", &recorded), nullptr);
        recorded.tm_isdst = -1;
        EXPECT_NEAR(static_cast<double>(std::mktime(&recorded)), static_cast<double>(before), 5.0);
    }
    ::tzset();
    // Local, not universal time: the same moment written in UTC would differ by five hours.
    ::gmtime_r(&before, &universal);
    EXPECT_NE(recorded.tm_hour, universal.tm_hour);
}

TEST_F(TrashItem, ThePathIsPercentEncoded) {
    const std::string item = folder / "My Apps/Tessaly é%.app";
    writeFile(item, "");

    workspace.trashItem(item);

    const std::string content = readFile(info("Tessaly é%.app"));
    EXPECT_NE(content.find("\nPath=" + folder.path() + "/My%20Apps/Tessaly%20%C3%A9%25.app\n"),
              std::string::npos)
        << content;
}

TEST_F(TrashItem, TheTrashFoldersAreCreatedPrivate) {
    const std::string item = folder / "item";
    writeFile(item, "");

    workspace.trashItem(item);

    EXPECT_EQ(testing::permissionsOf(trash()), 0700u);
    EXPECT_EQ(testing::permissionsOf(trash() + "/files"), 0700u);
    EXPECT_EQ(testing::permissionsOf(trash() + "/info"), 0700u);
    EXPECT_EQ(testing::permissionsOf(info("item")), 0600u);
}

TEST_F(TrashItem, ItemsOfTheSameNameGetNumberedNames) {
    for (const char* place : {"one", "two", "three"}) {
        writeFile(folder / (std::string(place) + "/Tessaly.app"), place);
        workspace.trashItem(folder / (std::string(place) + "/Tessaly.app"));
    }

    EXPECT_EQ(readFile(trashed("Tessaly.app")), "one");
    EXPECT_EQ(readFile(trashed("Tessaly.app.2")), "two");
    EXPECT_EQ(readFile(trashed("Tessaly.app.3")), "three");
    EXPECT_NE(readFile(info("Tessaly.app.2")).find("Path=" + folder.path() + "/two/Tessaly.app\n"),
              std::string::npos);
}

TEST_F(TrashItem, AFileLeftInTheTrashWithoutInfoIsNeverReplaced) {
    writeFile(trashed("item"), "left behind");
    writeFile(folder / "item", "new");

    workspace.trashItem(folder / "item");

    EXPECT_EQ(readFile(trashed("item")), "left behind");
    EXPECT_EQ(readFile(trashed("item.2")), "new");
    EXPECT_FALSE(FileSystem::exists(info("item")));
}

TEST_F(TrashItem, ASymbolicLinkIsTrashedAsALinkAndItsDestinationStays) {
    writeFile(folder / "real/Tessaly.app/Contents/Info.plist", "plist");
    ASSERT_EQ(::symlink((folder / "real/Tessaly.app").c_str(), (folder / "Tessaly.app").c_str()), 0);

    workspace.trashItem(folder / "Tessaly.app");

    EXPECT_TRUE(FileSystem::linkStatus(trashed("Tessaly.app")).isSymbolicLink);
    EXPECT_EQ(FileSystem::symbolicLinkDestination(trashed("Tessaly.app")), folder / "real/Tessaly.app");
    EXPECT_EQ(readFile(folder / "real/Tessaly.app/Contents/Info.plist"), "plist");
    EXPECT_NE(readFile(info("Tessaly.app")).find("Path=" + folder.path() + "/Tessaly.app\n"),
              std::string::npos);
}

TEST_F(TrashItem, ARelativePathIsTrashedFromTheWorkingFolder) {
    writeFile(folder / "work/item", "");
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(folder.path().c_str()), 0);

    workspace.trashItem("work/./item");

    ASSERT_EQ(::chdir(previous), 0);
    EXPECT_TRUE(FileSystem::exists(trashed("item")));
    EXPECT_NE(readFile(info("item")).find("Path=" + folder.path() + "/work/item\n"), std::string::npos);
}

TEST_F(TrashItem, AMissingItemThrowsNoSuchFileAndLeavesNoInfo) {
    const std::string item = folder / "gone.app";
    try {
        workspace.trashItem(item);
        FAIL() << "trashed nothing";
    } catch (const FileError& error) {
        EXPECT_EQ(error.code(), FileError::Code::noSuchFile);
        EXPECT_STREQ(error.what(),
                     ("Moving to the Trash " + quoted(item) + " failed: No such file or directory.").c_str());
    }
    EXPECT_FALSE(FileSystem::exists(info("gone.app")));
}

TEST_F(TrashItem, AnItemThatCannotBeMovedLeavesNoInfoBehind) {
    // Moving a folder into its own Trash inside it fails on every file system.
    writeFile(folder / "box/content", "");
    PosixWorkspace trashInside(folder / "box/Trash", "");

    EXPECT_THROW(trashInside.trashItem(folder / "box"), FileError);

    EXPECT_TRUE(FileSystem::exists(folder / "box/content"));
    EXPECT_FALSE(FileSystem::exists(folder / "box/Trash/info/box.trashinfo"));
}

TEST_F(TrashItem, AnItemOnAnotherFileSystemGoesToTheTrashAtItsTop) {
    struct stat temporary {};
    struct stat shared {};
    if (::stat(folder.path().c_str(), &temporary) != 0 || ::stat("/dev/shm", &shared) != 0 ||
        temporary.st_dev == shared.st_dev || ::access("/dev/shm", W_OK) != 0) {
        GTEST_SKIP() << "no second writable file system";
    }
    const std::string name = "tessaly-trash-test-" + std::to_string(::getpid());
    const std::string topTrash = "/dev/shm/.Trash-" + std::to_string(::getuid());
    writeFile("/dev/shm/" + name + "/content", "moved");

    EXPECT_EQ(workspace.trashFolderFor("/dev/shm/" + name), topTrash);
    workspace.trashItem("/dev/shm/" + name);

    EXPECT_FALSE(FileSystem::exists("/dev/shm/" + name));
    EXPECT_EQ(readFile(topTrash + "/files/" + name + "/content"), "moved");
    EXPECT_NE(readFile(topTrash + "/info/" + name + ".trashinfo").find("\nPath=" + name + "\n"),
              std::string::npos)
        << "relative to the top of its file system";
    std::filesystem::remove_all(topTrash + "/files/" + name);
    std::filesystem::remove(topTrash + "/info/" + name + ".trashinfo");
}

TEST_F(TrashItem, ATrashedFolderGetsItsLineInDirectorySizes) {
    writeFile(folder / "Tessaly.app/Contents/Info.plist", std::string(10000, 'x'));

    workspace.trashItem(folder / "Tessaly.app");

    std::istringstream line(readFile(trash() + "/directorysizes"));
    std::uint64_t size = 0;
    long long modified = 0;
    std::string name;
    ASSERT_TRUE(line >> size >> modified >> name);
    EXPECT_GE(size, 10000u);
    EXPECT_EQ(name, "Tessaly.app");
    struct stat info {};
    ASSERT_EQ(::stat(this->info("Tessaly.app").c_str(), &info), 0);
    EXPECT_EQ(modified, static_cast<long long>(info.st_mtime));
}

TEST(TrashLocation, IsUnderXdgDataHomeOrTheHomeFolder) {
    ScopedEnvironment home("HOME", "/home/someone");
    {
        ScopedEnvironment dataHome("XDG_DATA_HOME", "/data");
        EXPECT_EQ(PosixWorkspace().trashFolder(), "/data/Trash");
    }
    for (const std::optional<std::string>& value :
         {std::optional<std::string>(), std::optional<std::string>(""),
          std::optional<std::string>("relative")}) {
        ScopedEnvironment dataHome("XDG_DATA_HOME", value);
        EXPECT_EQ(PosixWorkspace().trashFolder(), "/home/someone/.local/share/Trash");
    }
}

// ---- Opening with xdg-open ----

class DesktopOpening : public ::testing::Test {
protected:
    DesktopOpening() {
        // Exits with the status in the file "status", as xdg-open reports a failure to open.
        writeFile(bin / "xdg-open", "#!/bin/sh\nprintf '%s|' \"$@\" > '" + (folder / "opened") +
                                        "'\nexit $(cat '" + (folder / "status") +
                                        "' 2>/dev/null || echo 0)\n");
        ::chmod((bin / "xdg-open").c_str(), 0755);
    }

    std::string opened() const {
        if (!testing::eventually([&] { return FileSystem::exists(folder / "opened"); })) return "";
        return readFile(folder / "opened");
    }

    TemporaryDirectory folder;
    TemporaryDirectory bin;
};

TEST_F(DesktopOpening, AURLIsHandedToXdgOpen) {
    PosixWorkspace workspace(folder / "Trash", "/nonexistent:" + bin.path());

    EXPECT_TRUE(workspace.openURL("x-apple.systempreferences:com.apple.LoginItems-Settings.extension"));

    EXPECT_EQ(opened(), "x-apple.systempreferences:com.apple.LoginItems-Settings.extension|");
}

TEST_F(DesktopOpening, AFolderIsRevealedByItsAbsolutePath) {
    PosixWorkspace workspace(folder / "Trash", bin.path());

    ASSERT_EQ(::mkdir((folder / "some folder").c_str(), 0700), 0);
    EXPECT_TRUE(workspace.revealFolder(folder / "some folder/"));

    EXPECT_EQ(opened(), folder.path() + "/some folder|");
}

TEST_F(DesktopOpening, SuccessIsXdgOpensExitStatusNotThatItStarted) {
    PosixWorkspace workspace(folder / "Trash", bin.path());
    for (const auto& [status, opens] : {std::pair{"0", true}, std::pair{"3", false}, std::pair{"4", false}}) {
        writeFile(folder / "status", status);
        EXPECT_EQ(workspace.openURL("https://example.org"), opens) << status;
        EXPECT_EQ(workspace.revealFolder(folder.path()), opens) << status;
    }
}

TEST_F(DesktopOpening, AMissingFolderIsNotRevealed) {
    PosixWorkspace workspace(folder / "Trash", bin.path());
    EXPECT_FALSE(workspace.revealFolder(folder / "missing"));
    EXPECT_FALSE(FileSystem::exists(folder / "opened"));
}

TEST_F(DesktopOpening, WithoutXdgOpenNothingOpens) {
    TemporaryDirectory empty;
    PosixWorkspace workspace(folder / "Trash", empty.path());

    EXPECT_FALSE(workspace.openURL("https://example.org"));
    EXPECT_FALSE(workspace.revealFolder(folder.path()));
}

TEST_F(DesktopOpening, AnXdgOpenInTheWorkingFolderIsNotUsed) {
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(bin.path().c_str()), 0);
    PosixWorkspace workspace(folder / "Trash", ":/nonexistent");

    const bool opened = workspace.openURL("https://example.org");

    ASSERT_EQ(::chdir(previous), 0);
    EXPECT_FALSE(opened);
}

TEST_F(DesktopOpening, AnArgumentThatLooksLikeAnOptionIsRefused) {
    PosixWorkspace workspace(folder / "Trash", bin.path());
    EXPECT_FALSE(workspace.openURL("--help"));
}

}  // namespace
}  // namespace tessaly
