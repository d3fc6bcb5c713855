// Where the sockets live, and which folders are refused instead of trusted.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "TemporaryRuntimeDirectory.h"
#include "foundation/FileError.h"
#include "foundation/TessalyError.h"
#include "posix/RuntimeDirectory.h"

namespace tessaly {
namespace {

using testing::ScopedEnvironment;
using testing::TemporaryFolder;

const std::string fallback = "/tmp/tessaly-" + std::to_string(::getuid());

std::string inQuotes(const std::string& path) {
    return "\xE2\x80\x9C" + path + "\xE2\x80\x9D";
}

mode_t modeOf(const std::string& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// The message a refused folder gives, or "" when it is accepted.
std::string refusalOf(const RuntimeDirectory& directory) {
    try {
        directory.prepare();
    } catch (const TessalyError& error) {
        return error.what();
    }
    return "";
}

TEST(RuntimeDirectoryLocation, IsXdgRuntimeDirWhenSet) {
    ScopedEnvironment environment("XDG_RUNTIME_DIR", "/run/user/4242");
    EXPECT_EQ(RuntimeDirectory::forCurrentUser().path(), "/run/user/4242");
}

TEST(RuntimeDirectoryLocation, FallsBackToAFolderInTmpNamedAfterTheUser) {
    {
        ScopedEnvironment environment("XDG_RUNTIME_DIR", std::nullopt);
        EXPECT_EQ(RuntimeDirectory::forCurrentUser().path(), fallback);
    }
    {
        ScopedEnvironment environment("XDG_RUNTIME_DIR", "");
        EXPECT_EQ(RuntimeDirectory::forCurrentUser().path(), fallback);
    }
}

TEST(RuntimeDirectoryLocation, IgnoresARelativeXdgRuntimeDir) {
    ScopedEnvironment environment("XDG_RUNTIME_DIR", "run/user/4242");
    EXPECT_EQ(RuntimeDirectory::forCurrentUser().path(), fallback);
}

TEST(RuntimeDirectoryCreation, MissingFolderIsCreatedPrivateWhateverTheUmask) {
    TemporaryFolder parent;
    const std::string path = parent.entry("runtime");
    const mode_t previousMask = ::umask(0377);

    RuntimeDirectory(path).prepare();

    ::umask(previousMask);
    EXPECT_EQ(modeOf(path), 0700u);
    EXPECT_TRUE(RuntimeDirectory(path).checkExisting());
}

TEST(RuntimeDirectoryCreation, ExistingPrivateFolderIsAccepted) {
    TemporaryFolder folder;  // mkdtemp makes it 0700
    EXPECT_EQ(refusalOf(RuntimeDirectory(folder.path())), "");
}

TEST(RuntimeDirectoryCreation, MissingParentIsAFileError) {
    TemporaryFolder parent;
    const std::string path = parent.entry("missing/runtime");
    try {
        RuntimeDirectory(path).prepare();
        FAIL() << "a folder without its parent was accepted";
    } catch (const FileError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Creating the runtime folder " + inQuotes(path) + " failed: No such file or directory.");
    }
}

TEST(RuntimeDirectoryRefusal, SymbolicLinkIsRefusedEvenToAPrivateFolder) {
    TemporaryFolder parent;
    TemporaryFolder target;
    const std::string link = parent.entry("link");
    ASSERT_EQ(::symlink(target.path().c_str(), link.c_str()), 0);

    EXPECT_EQ(
        refusalOf(RuntimeDirectory(link)),
        "The runtime folder " + inQuotes(link) + " is a symbolic link; Tessaly does not follow links there.");
}

TEST(RuntimeDirectoryRefusal, FileIsRefused) {
    TemporaryFolder parent;
    const std::string file = parent.entry("file");
    std::ofstream(file) << "not a folder";

    EXPECT_EQ(refusalOf(RuntimeDirectory(file)),
              "The runtime folder " + inQuotes(file) + " is not a folder.");
}

TEST(RuntimeDirectoryRefusal, FolderOpenToOthersIsRefusedAndLeftAsItIs) {
    TemporaryFolder folder;
    ::chmod(folder.path().c_str(), 0755);

    EXPECT_EQ(refusalOf(RuntimeDirectory(folder.path())),
              "The runtime folder " + inQuotes(folder.path()) +
                  " is open to other users; its permissions must be 0700.");
    EXPECT_EQ(modeOf(folder.path()), 0755u);
}

TEST(RuntimeDirectoryRefusal, FolderOfAnotherUserIsRefused) {
    TemporaryFolder parent;
    std::string path = "/";  // root's, when the tests do not run as root
    if (::geteuid() == 0) {
        path = parent.entry("theirs");
        ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    }

    EXPECT_EQ(refusalOf(RuntimeDirectory(path)),
              "The runtime folder " + inQuotes(path) + " belongs to another user.");
}

}  // namespace
}  // namespace tessaly
