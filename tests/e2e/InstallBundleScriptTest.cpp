// scripts/install-bundle: copying a built bundle into an Applications folder.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "foundation/FileSystem.h"
#include "support/ProcessRunner.h"
#include "support/TemporaryDirectory.h"

namespace tessaly {
namespace {

using testing::readFile;
using testing::TemporaryDirectory;
using testing::writeFile;

const std::string script = TESSALY_SOURCE_DIR "/scripts/install-bundle";

class InstallBundle : public ::testing::Test {
protected:
    InstallBundle() {
        writeFile(bundle() + "/Contents/Info.plist", "new plist");
        writeFile(bundle() + "/Contents/MacOS/Tessaly", "#!/bin/sh\n");
        ::chmod((bundle() + "/Contents/MacOS/Tessaly").c_str(), 0755);
        ::symlink("Tessaly", (bundle() + "/Contents/MacOS/alias").c_str());
    }

    std::string bundle() const { return folder / "build/Tessaly.app"; }
    std::string home() const { return folder / "home"; }

    testing::ProcessResult install(const std::vector<std::string>& arguments) const {
        std::vector<std::string> words{script};
        words.insert(words.end(), arguments.begin(), arguments.end());
        return testing::ProcessRunner({{"HOME", home()}}).run("/bin/bash", words);
    }

    TemporaryDirectory folder;
};

TEST_F(InstallBundle, CopiesIntoTheUsersApplicationsFolderAndReplacesAnExistingCopyAsAWhole) {
    const std::string installed = home() + "/Applications/Tessaly.app";
    writeFile(installed + "/Contents/obsolete", "old");
    for (const std::string& destination : {std::string(), installed}) {
        const auto result = install({destination, bundle()});

        ASSERT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(result.out, installed + "\n");
        EXPECT_EQ(readFile(installed + "/Contents/Info.plist"), "new plist");
        EXPECT_FALSE(FileSystem::exists(installed + "/Contents/obsolete"));
        EXPECT_EQ(testing::permissionsOf(installed + "/Contents/MacOS/Tessaly"), 0755u);
        EXPECT_EQ(FileSystem::symbolicLinkDestination(installed + "/Contents/MacOS/alias"), "Tessaly");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home() + "/Applications"), {}), 1)
            << "no temporary folder is left";
        writeFile(installed + "/Contents/obsolete", "old");
    }
}

TEST_F(InstallBundle, RefusesALinkAtTheDestinationOrSomethingThatIsNotABuiltBundle) {
    writeFile(folder / "elsewhere/Contents/Info.plist", "someone else's");
    writeFile(folder / "Applications/.keep", "");
    const std::string destination = folder / "Applications/Tessaly.app";
    auto result = install({destination, folder / "nothing"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err, "install-bundle: " + (folder / "nothing") +
                              " is not a built Tessaly.app; run scripts/build first.\n");
    EXPECT_FALSE(FileSystem::exists(destination));

    ASSERT_EQ(::symlink((folder / "elsewhere").c_str(), destination.c_str()), 0);
    result = install({destination + "/", bundle()});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err, "install-bundle: " + destination +
                              " is a symbolic link; remove it or choose another destination.\n");
    EXPECT_TRUE(FileSystem::linkStatus(destination).isSymbolicLink);
    EXPECT_EQ(readFile(folder / "elsewhere/Contents/Info.plist"), "someone else's");
}

}  // namespace
}  // namespace tessaly
