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

#include "foundation/FileDescriptor.h"
#include "foundation/FileError.h"
#include "foundation/FileSystem.h"
#include "posix/PosixWorkspace.h"
#include "support/ErrorMessage.h"
#include "support/RealProcesses.h"
#include "support/ScopedEnvironment.h"
#include "support/TemporaryDirectory.h"

namespace tessaly {
namespace {

using testing::readFile;
using testing::ScopedEnvironment;
using testing::TemporaryDirectory;
using testing::writeFile;

/// Runs `action` with `folder` as the working folder, then returns to the previous one.
template <typename Action>
void inFolder(const std::string& folder, Action action) {
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    action();
    std::filesystem::current_path(previous);
}

class TrashItem : public ::testing::Test {
protected:
    std::string trash() const { return folder / "share/Trash"; }
    std::string info(const std::string& name) const { return trash() + "/info/" + name + ".trashinfo"; }
    std::string trashed(const std::string& name) const { return trash() + "/files/" + name; }
    bool recordsPath(const std::string& name, const std::string& path) const {
        return readFile(info(name)).find("\nPath=" + path + "\n") != std::string::npos;
    }

    TemporaryDirectory folder;
    PosixWorkspace workspace{folder / "share/Trash", ""};
};

TEST_F(TrashItem, MovesTheItemIntoAPrivateTrashAndRecordsItsEncodedPathLocalDateAndSize) {
    const std::string item = folder / "My Apps/Tessaly é%.app";
    writeFile(item + "/Contents/Info.plist", std::string(10000, 'x'));
    std::time_t before = 0;
    {
        ScopedEnvironment zone("TZ", "UTC+5");
        ::tzset();
        before = std::time(nullptr);
        workspace.trashItem(item);
    }
    ::tzset();

    EXPECT_FALSE(FileSystem::exists(item));
    EXPECT_EQ(readFile(trashed("Tessaly é%.app") + "/Contents/Info.plist"), std::string(10000, 'x'));
    const std::string content = readFile(info("Tessaly é%.app"));
    const std::regex expected(
        "\\[Trash Info\\]\nPath=" + folder.path() +
        "/My%20Apps/Tessaly%20%C3%A9%25.app\nDeletionDate=\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\n");
    EXPECT_TRUE(std::regex_match(content, expected)) << content;
    // Local time of trashing, not universal time: in UTC+5 the two differ by five hours.
    std::tm recorded{};
    ASSERT_NE(
        ::strptime(content.c_str() + content.find("DeletionDate=") + 13, "%Y-%m-%dT%H:%M:%S", &recorded),
        nullptr);
    before -= 5 * 3600;
    std::tm local{};
    ::gmtime_r(&before, &local);
    EXPECT_NEAR(std::difftime(::timegm(&recorded), ::timegm(&local)), 0, 5);
    for (const std::string& created : {trash(), trash() + "/files", trash() + "/info"}) {
        EXPECT_EQ(testing::permissionsOf(created), 0700u) << created;
    }
    EXPECT_EQ(testing::permissionsOf(info("Tessaly é%.app")), 0600u);
    // A trashed folder gets its line in directorysizes: size, the info file's time, the name.
    std::istringstream line(readFile(trash() + "/directorysizes"));
    std::uint64_t size = 0;
    long long modified = 0;
    std::string name;
    ASSERT_TRUE(line >> size >> modified >> name);
    EXPECT_GE(size, 10000u);
    EXPECT_EQ(name, "Tessaly%20%C3%A9%25.app");
    struct stat infoStatus {};
    ASSERT_EQ(::stat(info("Tessaly é%.app").c_str(), &infoStatus), 0);
    EXPECT_EQ(modified, static_cast<long long>(infoStatus.st_mtime));
}

TEST_F(TrashItem, ItemsOfTheSameNameGetNumberedNamesAndAFileLeftWithoutInfoIsNeverReplaced) {
    writeFile(folder / "one/Tessaly.app", "one");
    workspace.trashItem(folder / "one/Tessaly.app");
    writeFile(trashed("Tessaly.app.2"), "left behind");
    writeFile(folder / "two/Tessaly.app", "two");
    workspace.trashItem(folder / "two/Tessaly.app");

    EXPECT_EQ(readFile(trashed("Tessaly.app")), "one");
    EXPECT_EQ(readFile(trashed("Tessaly.app.2")), "left behind");
    EXPECT_FALSE(FileSystem::exists(info("Tessaly.app.2")));
    EXPECT_EQ(readFile(trashed("Tessaly.app.3")), "two");
    EXPECT_TRUE(recordsPath("Tessaly.app.3", folder / "two/Tessaly.app"));
}

TEST_F(TrashItem, ASymbolicLinkIsTrashedAsALinkItsDestinationStaysAndARelativePathIsFromTheWorkingFolder) {
    writeFile(folder / "real/Tessaly.app/Contents/Info.plist", "plist");
    ASSERT_EQ(::symlink((folder / "real/Tessaly.app").c_str(), (folder / "Tessaly.app").c_str()), 0);

    workspace.trashItem(folder / "Tessaly.app");

    EXPECT_TRUE(FileSystem::linkStatus(trashed("Tessaly.app")).isSymbolicLink);
    EXPECT_EQ(FileSystem::symbolicLinkDestination(trashed("Tessaly.app")), folder / "real/Tessaly.app");
    EXPECT_EQ(readFile(folder / "real/Tessaly.app/Contents/Info.plist"), "plist");
    EXPECT_TRUE(recordsPath("Tessaly.app", folder / "Tessaly.app"));

    // A relative path is trashed from the working folder.
    writeFile(folder / "work/item", "");
    inFolder(folder.path(), [&] { workspace.trashItem("work/./item"); });

    EXPECT_TRUE(FileSystem::exists(trashed("item")));
    EXPECT_TRUE(recordsPath("item", folder / "work/item"));
}

TEST_F(TrashItem, AnItemThatCannotBeTrashedThrowsAndLeavesNoInfo) {
    const std::string item = folder / "gone.app";
    const auto error = testing::thrown<FileError>([&] { workspace.trashItem(item); });
    EXPECT_EQ(error.code(), FileError::Code::noSuchFile);
    EXPECT_STREQ(
        error.what(),
        ("Moving to the Trash " + FileSystem::quoted(item) + " failed: No such file or directory.").c_str());
    EXPECT_FALSE(FileSystem::exists(info("gone.app")));

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

TEST(TrashLocation, IsUnderXdgDataHomeOrTheHomeFolder) {
    ScopedEnvironment home("HOME", "/home/someone");
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {"/data", "/data/Trash"},
        {std::nullopt, "/home/someone/.local/share/Trash"},
        {"", "/home/someone/.local/share/Trash"},
        {"relative", "/home/someone/.local/share/Trash"},
    };
    for (const auto& [value, trash] : cases) {
        ScopedEnvironment dataHome("XDG_DATA_HOME", value);
        EXPECT_EQ(PosixWorkspace().trashFolder(), trash) << value.value_or("unset");
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

TEST_F(DesktopOpening, AURLAndAFolderByItsAbsolutePathAreHandedToXdgOpen) {
    PosixWorkspace workspace(folder / "Trash", "/nonexistent:" + bin.path());

    EXPECT_TRUE(workspace.openURL("x-apple.systempreferences:com.apple.LoginItems-Settings.extension"));
    EXPECT_EQ(opened(), "x-apple.systempreferences:com.apple.LoginItems-Settings.extension|");

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

TEST_F(DesktopOpening, NothingOpensWithoutXdgOpenOnThePathNorForAMissingFolderOrAnOption) {
    PosixWorkspace workspace(folder / "Trash", bin.path());
    EXPECT_FALSE(workspace.revealFolder(folder / "missing"));
    EXPECT_FALSE(workspace.openURL("--help"));
    EXPECT_FALSE(FileSystem::exists(folder / "opened"));

    TemporaryDirectory empty;
    PosixWorkspace withoutXdgOpen(folder / "Trash", empty.path());
    EXPECT_FALSE(withoutXdgOpen.openURL("https://example.org"));
    EXPECT_FALSE(withoutXdgOpen.revealFolder(folder.path()));

    // An empty entry on the path is the working folder, and an xdg-open there is not used.
    PosixWorkspace withEmptyEntry(folder / "Trash", ":/nonexistent");
    inFolder(bin.path(), [&] { EXPECT_FALSE(withEmptyEntry.openURL("https://example.org")); });
}

}  // namespace
}  // namespace tessaly
