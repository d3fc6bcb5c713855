#include <gtest/gtest.h>
#include <unistd.h>

#include "InstallationFixture.h"
#include "foundation/DecodingError.h"
#include "foundation/FileError.h"

namespace tessaly {
namespace {

using testing::InstallationFixture;
using testing::messageOf;
using testing::writeFile;

const std::string replacedCommand = "The tessaly command has been replaced and will not be removed.";

/// `xml` grown to exactly `size` bytes with whitespace before its closing tag.
std::string paddedTo(std::string xml, std::size_t size) {
    const auto end = xml.rfind("</plist>");
    xml.insert(end, std::string(size - xml.size(), ' '));
    return xml;
}

using LegacyAgentTest = InstallationFixture;

TEST_F(LegacyAgentTest, TheInstallersAgentIsRecognisedInEitherFormatUpToTheSizeLimit) {
    EXPECT_FALSE(paths.validateLegacyAgent()) << "no agent file";
    const std::string recognised[] = {
        PropertyList::writeXml(legacyAgentDefinition()),
        PropertyList::writeBinary(legacyAgentDefinition()),
        PropertyList::writeXml(agentDefinition({paths.installedHelper(), "run"})),
        paddedTo(PropertyList::writeXml(legacyAgentDefinition()), 16384),
    };
    for (const auto& bytes : recognised) {
        writeAgent(bytes);
        EXPECT_TRUE(paths.validateLegacyAgent()) << bytes;
    }
}

TEST_F(LegacyAgentTest, AnyOtherAgentOrOneOfAnotherAccountIsLeftUntouched) {
    const CFValue helper = paths.legacySupportHelper();
    std::vector<std::string> unrecognised = {
        paddedTo(PropertyList::writeXml(legacyAgentDefinition()), 16385),
        PropertyList::writeXml(agentDefinition({helper, "run", "--verbose"})),
        PropertyList::writeXml(agentDefinition({helper})),
    };
    for (const std::string& program : {std::string("/usr/bin/tessaly-helper"),
                                       home + "/Downloads/Tessaly.app/Contents/MacOS/tessaly-helper",
                                       paths.supportFolder() + "/./tessaly-helper",
                                       paths.legacySupportCommand(), std::string("tessaly-helper")}) {
        unrecognised.push_back(PropertyList::writeXml(agentDefinition({program, "run"})));
    }
    for (const CFValue& mode : {CFValue("authorize"), CFValue("Run"), CFValue(1)}) {
        unrecognised.push_back(PropertyList::writeXml(agentDefinition({helper, mode})));
    }
    for (const CFValue& label :
         {CFValue("com.orvanne.tessaly.agent"), CFValue(CFArray{"com.orvanne.tessaly"})}) {
        unrecognised.push_back(PropertyList::writeXml(agentDefinition({helper, "run"}, label)));
    }
    for (const CFValue& shape :
         {CFValue(CFDictionary{{"ProgramArguments", CFArray{helper, "run"}}}),
          CFValue(CFDictionary{{"Label", "com.orvanne.tessaly"}}),
          CFValue(CFDictionary{{"Label", "com.orvanne.tessaly"}, {"ProgramArguments", "run"}}),
          CFValue(CFDictionary{{"Label", "com.orvanne.tessaly"}, {"Program", helper}}),
          CFValue(CFArray{"com.orvanne.tessaly", helper, "run"})}) {
        unrecognised.push_back(PropertyList::writeXml(shape));
    }
    for (const auto& bytes : unrecognised) {
        writeAgent(bytes);
        EXPECT_EQ(messageOf([&] { paths.validateLegacyAgent(); }), untouchedAgentMessage()) << bytes;
    }

    // Nor is the installer's agent of another account.
    writeAgent(PropertyList::writeXml(legacyAgentDefinition()));
    InstallationPaths otherAccount(home, systemApplications, static_cast<std::uint32_t>(::getuid()) + 1);
    EXPECT_EQ(messageOf([&] { otherAccount.validateLegacyAgent(); }), untouchedAgentMessage());
    if (::getuid() != 0) return;  // giving a file to another account needs root
    ASSERT_EQ(::chown(paths.legacyAgent().c_str(), 4242, 4242), 0);
    EXPECT_EQ(messageOf([&] { paths.validateLegacyAgent(); }), untouchedAgentMessage());
}

TEST_F(LegacyAgentTest, AnAgentThatIsNoPropertyListThrowsTheParseFailureALinkedOneIsRefusedAsRedirected) {
    writeAgent("#!/bin/sh\nexec tessaly-helper run\n");
    EXPECT_THROW(paths.validateLegacyAgent(), DecodingError);

    std::filesystem::remove(paths.legacyAgent());
    writeFile(root + "/agent.plist", PropertyList::writeXml(legacyAgentDefinition()));
    makeLink(root + "/agent.plist", paths.legacyAgent());
    EXPECT_EQ(messageOf([&] { paths.validateLegacyAgent(); }), redirectedMessage(paths.legacyAgent()));

    std::filesystem::remove_all(home + "/Library/LaunchAgents");
    writeFile(root + "/agents/com.orvanne.tessaly.plist", PropertyList::writeXml(legacyAgentDefinition()));
    makeLink(root + "/agents", home + "/Library/LaunchAgents");
    EXPECT_EQ(messageOf([&] { paths.validateLegacyAgent(); }), redirectedMessage(paths.legacyAgent()));
}

using LegacyCommandLinkTest = InstallationFixture;

TEST_F(LegacyCommandLinkTest, TheInstallersLinkIsListedFirstAndJudgedByItsTextAlone) {
    makeLink(paths.legacySupportCommand(), paths.legacyCommandLink());
    EXPECT_EQ(paths.removableLegacyFiles(), std::vector<std::string>{paths.legacyCommandLink()})
        << "its target is gone";
    writeFile(paths.legacySupportCommand(), "#!/bin/sh\n");
    EXPECT_EQ(paths.removableLegacyFiles(),
              (std::vector<std::string>{paths.legacyCommandLink(), paths.legacySupportCommand()}));
}

TEST_F(LegacyCommandLinkTest, AnythingElseAtTheCommandPathIsReplaced) {
    writeFile(paths.legacySupportCommand(), "#!/bin/sh\n");
    const std::function<void(const std::string&)> replacements[] = {
        [](const std::string& at) { writeFile(at, "#!/bin/sh\n"); },
        [](const std::string& at) { std::filesystem::create_directories(at); },
        // A relative link that does reach the support command.
        [](const std::string& at) { makeLink("../../Library/Application Support/Tessaly/tessaly", at); },
        [](const std::string& at) { makeLink("/usr/local/bin/tessaly", at); },
        [&](const std::string& at) { makeLink(paths.supportFolder() + "//tessaly", at); },
        [&](const std::string& at) { makeLink(paths.supportFolder() + "/tessaly/", at); },
        [&](const std::string& at) { makeLink(paths.installedHelper(), at); },
    };
    for (const auto& replace : replacements) {
        std::filesystem::remove_all(paths.legacyCommandLink());
        replace(paths.legacyCommandLink());
        EXPECT_EQ(messageOf([&] { paths.removableLegacyFiles(); }), replacedCommand)
            << FileSystem::linkStatus(paths.legacyCommandLink()).isSymbolicLink;
    }
}

TEST_F(LegacyCommandLinkTest, AFailureOtherThanAMissingFileIsThrownUnchanged) {
    writeFile(home + "/.local/bin", "not a folder");
    const auto error = testing::thrown<FileError>([&] { paths.removableLegacyFiles(); });
    EXPECT_EQ(error.code(), FileError::Code::other);
    EXPECT_STREQ(error.what(), ("Reading \xE2\x80\x9C" + paths.legacyCommandLink() +
                                "\xE2\x80\x9D failed: Not a directory.")
                                   .c_str());
}

using RemovableLegacyFilesTest = InstallationFixture;

TEST_F(RemovableLegacyFilesTest, WhatIsFoundIsListedInOrderAndNeverTheAudioPreferenceFile) {
    EXPECT_TRUE(paths.removableLegacyFiles().empty());
    writeFile(paths.supportFolder() + "/audio.json", R"({"schemaVersion":1,"volume":0,"unmutedVolume":1})");
    writeFile(paths.supportFolder() + "/signing-identity", "Developer ID Application: Someone\n");
    writeAgent(PropertyList::writeXml(legacyAgentDefinition()));
    EXPECT_EQ(paths.removableLegacyFiles(),
              (std::vector<std::string>{paths.supportFolder() + "/signing-identity", paths.legacyAgent()}));

    for (const auto& file : paths.legacySupportFiles()) writeFile(file, "legacy");
    makeLink(paths.legacySupportCommand(), paths.legacyCommandLink());
    writeAgent(PropertyList::writeBinary(legacyAgentDefinition()));
    std::vector<std::string> expected{paths.legacyCommandLink()};
    for (const auto& file : paths.legacySupportFiles()) expected.push_back(file);
    expected.push_back(paths.legacyAgent());
    EXPECT_EQ(paths.removableLegacyFiles(), expected);
}

TEST_F(RemovableLegacyFilesTest, ALinkedSupportFileOrFolderIsRefused) {
    writeFile(root + "/identity", "Developer ID Application: Someone\n");
    makeLink(root + "/identity", paths.supportFolder() + "/signing-identity");
    EXPECT_EQ(messageOf([&] { paths.removableLegacyFiles(); }),
              redirectedMessage(paths.supportFolder() + "/signing-identity"));

    std::filesystem::remove_all(paths.supportFolder());
    writeFile(root + "/elsewhere/install-common.sh", "legacy");
    makeLink(root + "/elsewhere", paths.supportFolder());
    EXPECT_EQ(messageOf([&] { paths.removableLegacyFiles(); }),
              redirectedMessage(paths.supportFolder() + "/install-common.sh"));
}

TEST_F(RemovableLegacyFilesTest, AnUnrecognisedAgentOrAReplacedCommandStopsTheWholeList) {
    writeFile(paths.legacySupportHelper(), "binary");
    writeAgent(PropertyList::writeXml(agentDefinition({"/usr/bin/true", "run"})));
    EXPECT_EQ(messageOf([&] { paths.removableLegacyFiles(); }), untouchedAgentMessage());

    writeFile(paths.legacyCommandLink(), "#!/bin/sh\n");
    writeAgent(PropertyList::writeXml(legacyAgentDefinition()));
    EXPECT_EQ(messageOf([&] { paths.removableLegacyFiles(); }), replacedCommand);
}

}  // namespace
}  // namespace tessaly
