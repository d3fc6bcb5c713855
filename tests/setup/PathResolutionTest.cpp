#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/FileError.h"
#include "foundation/FileSystem.h"
#include "support/TemporaryDirectory.h"

namespace tessaly {
namespace {

using testing::TemporaryDirectory;
using testing::writeFile;

TEST(StandardizedPathTest, RemovesDotsAndRepeatedAndTrailingSlashes) {
    EXPECT_EQ(FileSystem::standardizedPath("/a/./b//c/"), "/a/b/c");
    EXPECT_EQ(FileSystem::standardizedPath("/a/b/../c"), "/a/c");
    EXPECT_EQ(FileSystem::standardizedPath("/a/b/c/../../d/."), "/a/d");
}

TEST(StandardizedPathTest, NeverClimbsAboveTheRoot) {
    EXPECT_EQ(FileSystem::standardizedPath("/.."), "/");
    EXPECT_EQ(FileSystem::standardizedPath("/../Applications/Tessaly.app"), "/Applications/Tessaly.app");
    EXPECT_EQ(FileSystem::standardizedPath("//"), "/");
}

TEST(StandardizedPathTest, RelativePathsStayRelative) {
    EXPECT_EQ(FileSystem::standardizedPath("a/../../b"), "../b");
    EXPECT_EQ(FileSystem::standardizedPath("a/.."), ".");
}

class PathResolutionTest : public ::testing::Test {
protected:
    TemporaryDirectory temporary;
    std::string root = FileSystem::resolvingSymbolicLinks(temporary.path());
};

TEST_F(PathResolutionTest, ResolvesLinkedFoldersOnTheWay) {
    writeFile(root + "/real/file", "x");
    std::filesystem::create_directory_symlink(root + "/real", root + "/linked");
    EXPECT_EQ(FileSystem::resolvingSymbolicLinks(root + "/linked/file"), root + "/real/file");
    EXPECT_EQ(FileSystem::resolvingSymbolicLinks(root + "/real/./file"), root + "/real/file");
}

TEST_F(PathResolutionTest, AMissingPathIsReportedAsMissing) {
    try {
        FileSystem::resolvingSymbolicLinks(root + "/missing");
        FAIL();
    } catch (const FileError& error) {
        EXPECT_EQ(error.code(), FileError::Code::noSuchFile);
    }
}

TEST_F(PathResolutionTest, ALinksDestinationIsItsTextAsStored) {
    std::filesystem::create_symlink("../somewhere/else", root + "/relative");
    const std::string longTarget = "/" + std::string(300, 'x') + "/" + std::string(300, 'y');
    std::filesystem::create_symlink(longTarget, root + "/long");
    EXPECT_EQ(FileSystem::symbolicLinkDestination(root + "/relative"), "../somewhere/else");
    EXPECT_EQ(FileSystem::symbolicLinkDestination(root + "/long"), longTarget);
}

TEST_F(PathResolutionTest, APlainFileHasNoLinkDestination) {
    writeFile(root + "/file", "x");
    EXPECT_THROW(FileSystem::symbolicLinkDestination(root + "/file"), FileError);
}

}  // namespace
}  // namespace tessaly
