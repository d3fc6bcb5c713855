#pragma once

#include "support/ErrorMessage.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "foundation/FileSystem.h"
#include "setup/InstallationPaths.h"
#include "support/TemporaryDirectory.h"
#include "values/CFValue.h"
#include "values/PropertyList.h"

namespace tessaly::testing {

/// A home folder and a stand-in system Applications folder on a real temporary tree. The tree's
/// own path is resolved first, so a linked temporary folder does not look like a redirection.
class InstallationFixture : public ::testing::Test {
protected:
    InstallationFixture() { std::filesystem::create_directories(home); }

    /// A minimal application bundle at `path`.
    static void makeBundle(const std::string& path) {
        writeFile(path + "/Contents/Info.plist",
                  PropertyList::writeXml(CFDictionary{{"CFBundleExecutable", "Tessaly"}}));
    }

    /// A symbolic link at `at` holding `destination`, with the folders above it created.
    static void makeLink(const std::string& destination, const std::string& at) {
        std::filesystem::create_directories(std::filesystem::path(at).parent_path());
        std::filesystem::create_symlink(destination, at);
    }

    /// An agent definition shaped like the legacy installer's, with the given label and arguments.
    static CFValue agentDefinition(const CFArray& arguments, const CFValue& label = "com.orvanne.tessaly") {
        return CFDictionary{{"Label", label},
                            {"ProgramArguments", arguments},
                            {"RunAtLoad", true},
                            {"KeepAlive", CFDictionary{{"SuccessfulExit", false}}},
                            {"ProcessType", "Interactive"}};
    }

    /// The legacy installer's agent, naming the helper in the support folder.
    CFValue legacyAgentDefinition() const { return agentDefinition({paths.legacySupportHelper(), "run"}); }

    void writeAgent(const std::string& bytes) const { writeFile(paths.legacyAgent(), bytes); }

    /// The "left untouched" refusal for this home's agent.
    std::string untouchedAgentMessage() const {
        return "An unrecognized launch agent was left untouched at " + paths.legacyAgent() + ".";
    }

    /// The redirection refusal for `path`.
    static std::string redirectedMessage(const std::string& path) {
        return "Refusing a redirected or non-file installation path: " + path + ".";
    }

    TemporaryDirectory temporary;
    std::string root = FileSystem::resolvingSymbolicLinks(temporary.path());
    std::string home = root + "/home";
    std::string systemApplications = root + "/Applications";
    std::uint32_t uid = static_cast<std::uint32_t>(::getuid());
    InstallationPaths paths{home, systemApplications, uid};
};

}  // namespace tessaly::testing
