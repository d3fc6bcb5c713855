// Where the sockets live, and which folders are refused instead of trusted.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "TemporaryRuntimeDirectory.h"
#include "foundation/FileDescriptor.h"
#include "foundation/FileError.h"
#include "posix/RuntimeDirectory.h"
#include "support/ErrorMessage.h"

namespace tessaly {
namespace {

using testing::permissionsOf;
using testing::ScopedEnvironment;
using testing::TemporaryDirectory;

const std::string fallback = "/tmp/tessaly-" + std::to_string(::getuid());

// The message a refused folder gives, or "no error" when it is accepted.
std::string refusalOf(const std::string& path) {
    return testing::messageOf([&] { RuntimeDirectory(path).prepare(); });
}

TEST(RuntimeDirectoryLocation, IsAnAbsoluteXdgRuntimeDirOrElseAFolderInTmpNamedAfterTheUser) {
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {"/run/user/4242", "/run/user/4242"},
        {std::nullopt, fallback},
        {"", fallback},
        {"run/user/4242", fallback},
    };
    for (const auto& [configured, expected] : cases) {
        ScopedEnvironment environment("XDG_RUNTIME_DIR", configured);
        EXPECT_EQ(RuntimeDirectory::forCurrentUser().path(), expected) << configured.value_or("(unset)");
    }
}

TEST(RuntimeDirectoryCreation, MissingFolderIsCreatedPrivateWhateverTheUmaskButNotAMissingParent) {
    TemporaryDirectory parent;
    const std::string path = parent / "runtime";
    const mode_t previousMask = ::umask(0377);

    RuntimeDirectory(path).prepare();

    ::umask(previousMask);
    EXPECT_EQ(permissionsOf(path), 0700u);
    EXPECT_TRUE(RuntimeDirectory(path).checkExisting());

    const std::string orphan = parent / "missing/runtime";
    EXPECT_EQ(
        std::string(testing::thrown<FileError>([&] { RuntimeDirectory(orphan).prepare(); }).what()),
        "Creating the runtime folder " + FileSystem::quoted(orphan) + " failed: No such file or directory.");
}

TEST(RuntimeDirectoryRefusal, OnlyAPrivateFolderOfTheUserIsAcceptedAndNoneIsRepaired) {
    TemporaryDirectory parent;
    TemporaryDirectory target;  // mkdtemp makes it 0700
    const std::string link = parent / "link";
    ASSERT_EQ(::symlink(target.path().c_str(), link.c_str()), 0);
    const std::string file = parent / "file";
    std::ofstream(file) << "not a folder";
    const std::string open = parent / "open";
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0755), 0);
    std::string theirs = "/";  // root's, when the tests do not run as root
    if (::geteuid() == 0) {
        theirs = parent / "theirs";
        ASSERT_EQ(::mkdir(theirs.c_str(), 0700), 0);
        ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    }
    const std::pair<std::string, std::string> cases[] = {
        {target.path(), "no error"},
        {link, "is a symbolic link; Tessaly does not follow links there."},
        {file, "is not a folder."},
        {open, "is open to other users; its permissions must be 0700."},
        {theirs, "belongs to another user."},
    };
    for (const auto& [path, problem] : cases) {
        EXPECT_EQ(refusalOf(path), problem == "no error"
                                       ? problem
                                       : "The runtime folder " + FileSystem::quoted(path) + " " + problem);
    }
    EXPECT_EQ(permissionsOf(open), 0755u);
}

}  // namespace
}  // namespace tessaly
