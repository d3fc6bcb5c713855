#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "foundation/FileError.h"
#include "foundation/FileSystem.h"
#include "support/ErrorMessage.h"
#include "support/TemporaryDirectory.h"

namespace tessaly {
namespace {

using testing::TemporaryDirectory;
using testing::writeFile;

TEST(StandardizedPathTest, RemovesDotsAndExtraSlashesNeverClimbsAboveTheRootAndKeepsRelativePathsRelative) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/./b//c/", "/a/b/c"},
        {"/a/b/../c", "/a/c"},
        {"/a/b/c/../../d/.", "/a/d"},
        {"/..", "/"},
        {"/../Applications/Tessaly.app", "/Applications/Tessaly.app"},
        {"//", "/"},
        {"a/../../b", "../b"},
        {"a/..", "."},
    };
    for (const auto& [path, standardized] : cases) {
        EXPECT_EQ(FileSystem::standardizedPath(path), standardized) << path;
    }
}

TEST(PathResolutionTest, ResolvesLinkedFoldersAndReadsALinksTextAsStored) {
    TemporaryDirectory temporary;
    const std::string root = FileSystem::resolvingSymbolicLinks(temporary.path());
    writeFile(root + "/real/file", "x");
    std::filesystem::create_directory_symlink(root + "/real", root + "/linked");
    EXPECT_EQ(FileSystem::resolvingSymbolicLinks(root + "/linked/file"), root + "/real/file");
    EXPECT_EQ(FileSystem::resolvingSymbolicLinks(root + "/real/./file"), root + "/real/file");
    EXPECT_EQ(
        testing::thrown<FileError>([&] { FileSystem::resolvingSymbolicLinks(root + "/missing"); }).code(),
        FileError::Code::noSuchFile);

    std::filesystem::create_symlink("../somewhere/else", root + "/relative");
    const std::string longTarget = "/" + std::string(300, 'x') + "/" + std::string(300, 'y');
    std::filesystem::create_symlink(longTarget, root + "/long");
    EXPECT_EQ(FileSystem::symbolicLinkDestination(root + "/relative"), "../somewhere/else");
    EXPECT_EQ(FileSystem::symbolicLinkDestination(root + "/long"), longTarget);
    EXPECT_THROW(FileSystem::symbolicLinkDestination(root + "/real/file"), FileError);
}

}  // namespace
}  // namespace tessaly
