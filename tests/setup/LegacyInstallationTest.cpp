#include <gtest/gtest.h>
#include <unistd.h>

#include "InstallationFixture.h"
#include "foundation/DecodingError.h"
#include "foundation/FileError.h"
#include "foundation/TessalyError.h"

namespace tessaly {
namespace {

using testing::InstallationFixture;
using testing::messageOf;
using testing::writeFile;

/// `xml` grown to exactly `size` bytes with whitespace before its closing tag.
std::string paddedTo(std::string xml, std::size_t size) {
    const auto end = xml.rfind("</plist>");
    xml.insert(end, std::string(size - xml.size(), ' '));
    return xml;
}

using LegacyAgentTest = InstallationFixture;

TEST_F(LegacyAgentTest, NoAgentFileMeansNoLegacyAgent) {
    EXPECT_FALSE(paths.validateLegacyAgent());
}

TEST_F(LegacyAgentTest, TheInstallersAgentInXmlIsRecognised) {
    writeAgent(PropertyList::writeXml(legacyAgentDefinition()));
    EXPECT_TRUE(paths.validateLegacyAgent());
}

TEST_F(LegacyAgentTest, TheInstallersAgentInBinaryIsRecognised) {
    writeAgent(PropertyList::writeBinary(legacyAgentDefinition()));
    EXPECT_TRUE(paths.validateLegacyAgent());
}

TEST_F(LegacyAgentTest, AnAgentRunningTheInstalledCopysHelperIsRecognised) {
    writeAgent(PropertyList::writeXml(agentDefinition({paths.installedHelper(), "run"})));
    EXPECT_TRUE(paths.validateLegacyAgent());
}

TEST_F(LegacyAgentTest, AnAgentOfExactlyTheSizeLimitIsRead) {
    writeAgent(paddedTo(PropertyList::writeXml(legacyAgentDefinition()), 16384));
    EXPECT_TRUE(paths.validateLegacyAgent());
}

TEST_F(LegacyAgentTest, AnAgentOneByteOverTheSizeLimitIsUnrecognised) {
    writeAgent(paddedTo(PropertyList::writeXml(legacyAgentDefinition()), 16385));
    EXPECT_EQ(messageOf([&] { paths.validateLegacyAgent(); }), untouchedAgentMessage());
}

TEST_F(LegacyAgentTest, AThirdArgumentMakesItUnrecognised) {
    writeAgent(PropertyList::writeXml(agentDefinition({paths.legacySupportHelper(), "run", "--verbose"})));
    EXPECT_EQ(messageOf([&] { paths.validateLegacyAgent(); }), untouchedAgentMessage());
}

TEST_F(LegacyAgentTest, AnyOtherProgramPathMakesItUnrecognised) {
    for (const std::string& program : {std::string("/usr/bin/tessaly-helper"),
                                       home + "/Downloads/Tessaly.app/Contents/MacOS/tessaly-helper",
                                       paths.supportFolder() + "/./tessaly-helper",
                                       paths.legacySupportCommand(), std::string("tessaly-helper")}) {
        writeAgent(PropertyList::writeXml(agentDefinition({program, "run"})));
        EXPECT_EQ(messageOf([&] { paths.validateLegacyAgent(); }), untouchedAgentMessage()) << program;
    }
}

TEST_F(LegacyAgentTest, ASecondArgumentOtherThanRunMakesItUnrecognised) {
    for (const CFValue& mode : {CFValue("authorize"), CFValue("Run"), CFValue(1)}) {
        writeAgent(PropertyList::writeXml(agentDefinition({paths.legacySupportHelper(), mode})));
        EXPECT_EQ(messageOf([&] { paths.validateLegacyAgent(); }), untouchedAgentMessage());
    }
}

TEST_F(LegacyAgentTest, TooFewArgumentsMakeItUnrecognised) {
    writeAgent(PropertyList::writeXml(agentDefinition({paths.legacySupportHelper()})));
    EXPECT_EQ(messageOf([&] { paths.validateLegacyAgent(); }), untouchedAgentMessage());
}

TEST_F(LegacyAgentTest, AnotherLabelMakesItUnrecognised) {
    for (const CFValue& label :
         {CFValue("com.orvanne.tessaly.agent"), CFValue(CFArray{"com.orvanne.tessaly"})}) {
        writeAgent(PropertyList::writeXml(agentDefinition({paths.legacySupportHelper(), "run"}, label)));
        EXPECT_EQ(messageOf([&] { paths.validateLegacyAgent(); }), untouchedAgentMessage());
    }
}

TEST_F(LegacyAgentTest, MissingKeysOrOtherShapesMakeItUnrecognised) {
    const CFValue program = paths.legacySupportHelper();
    const CFValue shapes[] = {
        CFDictionary{{"ProgramArguments", CFArray{program, "run"}}},
        CFDictionary{{"Label", "com.orvanne.tessaly"}},
        CFDictionary{{"Label", "com.orvanne.tessaly"}, {"ProgramArguments", "run"}},
        CFDictionary{{"Label", "com.orvanne.tessaly"}, {"Program", program}},
        CFArray{"com.orvanne.tessaly", program, "run"},
    };
    for (const auto& shape : shapes) {
        writeAgent(PropertyList::writeXml(shape));
        EXPECT_EQ(messageOf([&] { paths.validateLegacyAgent(); }), untouchedAgentMessage());
    }
}

TEST_F(LegacyAgentTest, AnAgentThatIsNoPropertyListThrowsTheParseFailure) {
    writeAgent("#!/bin/sh\nexec tessaly-helper run\n");
    EXPECT_THROW(paths.validateLegacyAgent(), DecodingError);
    EXPECT_EQ(
        messageOf([&] { paths.validateLegacyAgent(); }),
        "The data couldn\xE2\x80\x99t be read because it isn\xE2\x80\x99t in the correct format: the property list is malformed.");
}

TEST_F(LegacyAgentTest, AnAgentOfAnotherAccountIsUnrecognised) {
    writeAgent(PropertyList::writeXml(legacyAgentDefinition()));
    InstallationPaths otherAccount(home, systemApplications, static_cast<std::uint32_t>(::getuid()) + 1);
    EXPECT_EQ(messageOf([&] { otherAccount.validateLegacyAgent(); }), untouchedAgentMessage());
}

TEST_F(LegacyAgentTest, AnAgentChownedToAnotherAccountIsUnrecognised) {
    if (::getuid() != 0) GTEST_SKIP() << "giving a file to another account needs root";
    writeAgent(PropertyList::writeXml(legacyAgentDefinition()));
    ASSERT_EQ(::chown(paths.legacyAgent().c_str(), 4242, 4242), 0);
    EXPECT_EQ(messageOf([&] { paths.validateLegacyAgent(); }), untouchedAgentMessage());
}

TEST_F(LegacyAgentTest, ALinkedAgentIsRefusedAsRedirected) {
    writeFile(root + "/agent.plist", PropertyList::writeXml(legacyAgentDefinition()));
    makeLink(root + "/agent.plist", paths.legacyAgent());
    EXPECT_EQ(messageOf([&] { paths.validateLegacyAgent(); }), redirectedMessage(paths.legacyAgent()));
}

TEST_F(LegacyAgentTest, AnAgentInALinkedLaunchAgentsFolderIsRefusedAsRedirected) {
    writeFile(root + "/agents/com.orvanne.tessaly.plist", PropertyList::writeXml(legacyAgentDefinition()));
    makeLink(root + "/agents", home + "/Library/LaunchAgents");
    EXPECT_EQ(messageOf([&] { paths.validateLegacyAgent(); }), redirectedMessage(paths.legacyAgent()));
}

using LegacyCommandLinkTest = InstallationFixture;

TEST_F(LegacyCommandLinkTest, TheInstallersLinkIsListedFirst) {
    writeFile(paths.legacySupportCommand(), "#!/bin/sh\n");
    makeLink(paths.legacySupportCommand(), paths.legacyCommandLink());
    EXPECT_EQ(paths.removableLegacyFiles(),
              (std::vector<std::string>{paths.legacyCommandLink(), paths.legacySupportCommand()}));
}

TEST_F(LegacyCommandLinkTest, TheLinkIsJudgedByItsTextAloneEvenWhenItsTargetIsGone) {
    makeLink(paths.legacySupportCommand(), paths.legacyCommandLink());
    EXPECT_EQ(paths.removableLegacyFiles(), std::vector<std::string>{paths.legacyCommandLink()});
}

TEST_F(LegacyCommandLinkTest, ARegularFileAtTheCommandPathIsReplaced) {
    writeFile(paths.legacyCommandLink(), "#!/bin/sh\n");
    EXPECT_EQ(messageOf([&] { paths.removableLegacyFiles(); }),
              "The tessaly command has been replaced and will not be removed.");
}

TEST_F(LegacyCommandLinkTest, AFolderAtTheCommandPathIsReplaced) {
    std::filesystem::create_directories(paths.legacyCommandLink());
    EXPECT_EQ(messageOf([&] { paths.removableLegacyFiles(); }),
              "The tessaly command has been replaced and will not be removed.");
}

TEST_F(LegacyCommandLinkTest, ARelativeLinkToTheSupportCommandIsReplaced) {
    writeFile(paths.legacySupportCommand(), "#!/bin/sh\n");
    makeLink("../../Library/Application Support/Tessaly/tessaly", paths.legacyCommandLink());
    ASSERT_TRUE(std::filesystem::exists(paths.legacyCommandLink()));  // it does reach the file
    EXPECT_EQ(messageOf([&] { paths.removableLegacyFiles(); }),
              "The tessaly command has been replaced and will not be removed.");
}

TEST_F(LegacyCommandLinkTest, ALinkToAnotherTargetIsReplaced) {
    for (const std::string& target :
         {std::string("/usr/local/bin/tessaly"), paths.supportFolder() + "//tessaly",
          paths.supportFolder() + "/tessaly/", paths.installedHelper()}) {
        std::filesystem::remove(paths.legacyCommandLink());
        makeLink(target, paths.legacyCommandLink());
        EXPECT_EQ(messageOf([&] { paths.removableLegacyFiles(); }),
                  "The tessaly command has been replaced and will not be removed.")
            << target;
    }
}

TEST_F(LegacyCommandLinkTest, AFailureOtherThanAMissingFileIsThrownUnchanged) {
    writeFile(home + "/.local/bin", "not a folder");
    try {
        paths.removableLegacyFiles();
        FAIL() << "a command path below a plain file was taken for a missing link";
    } catch (const FileError& error) {
        EXPECT_EQ(error.code(), FileError::Code::other);
        EXPECT_STREQ(error.what(), ("Reading \xE2\x80\x9C" + paths.legacyCommandLink() +
                                    "\xE2\x80\x9D failed: Not a directory.")
                                       .c_str());
    }
}

using RemovableLegacyFilesTest = InstallationFixture;

TEST_F(RemovableLegacyFilesTest, NothingOfTheLegacyInstallationMeansAnEmptyList) {
    EXPECT_TRUE(paths.removableLegacyFiles().empty());
}

TEST_F(RemovableLegacyFilesTest, OnlySigningIdentityAndTheAgentGiveExactlyThoseTwoInOrder) {
    writeFile(paths.supportFolder() + "/signing-identity", "Developer ID Application: Someone\n");
    writeAgent(PropertyList::writeXml(legacyAgentDefinition()));
    EXPECT_EQ(paths.removableLegacyFiles(),
              (std::vector<std::string>{paths.supportFolder() + "/signing-identity", paths.legacyAgent()}));
}

TEST_F(RemovableLegacyFilesTest, AFullLegacyInstallationIsListedInOrder) {
    for (const auto& file : paths.legacySupportFiles()) writeFile(file, "legacy");
    makeLink(paths.legacySupportCommand(), paths.legacyCommandLink());
    writeAgent(PropertyList::writeBinary(legacyAgentDefinition()));
    std::vector<std::string> expected{paths.legacyCommandLink()};
    for (const auto& file : paths.legacySupportFiles()) expected.push_back(file);
    expected.push_back(paths.legacyAgent());
    EXPECT_EQ(paths.removableLegacyFiles(), expected);
}

TEST_F(RemovableLegacyFilesTest, TheAudioPreferenceFileIsNeverListed) {
    writeFile(paths.supportFolder() + "/audio.json", R"({"schemaVersion":1,"volume":0,"unmutedVolume":1})");
    writeFile(paths.legacySupportHelper(), "binary");
    EXPECT_EQ(paths.removableLegacyFiles(), std::vector<std::string>{paths.legacySupportHelper()});
}

TEST_F(RemovableLegacyFilesTest, SupportFilesReachedThroughALinkedFolderAreRefused) {
    writeFile(root + "/elsewhere/install-common.sh", "legacy");
    std::filesystem::create_directories(home + "/Library/Application Support");
    makeLink(root + "/elsewhere", paths.supportFolder());
    EXPECT_EQ(messageOf([&] { paths.removableLegacyFiles(); }),
              redirectedMessage(paths.supportFolder() + "/install-common.sh"));
}

TEST_F(RemovableLegacyFilesTest, ALinkedSupportFileIsRefused) {
    writeFile(root + "/identity", "Developer ID Application: Someone\n");
    makeLink(root + "/identity", paths.supportFolder() + "/signing-identity");
    EXPECT_EQ(messageOf([&] { paths.removableLegacyFiles(); }),
              redirectedMessage(paths.supportFolder() + "/signing-identity"));
}

TEST_F(RemovableLegacyFilesTest, AnUnrecognisedAgentStopsTheWholeList) {
    writeFile(paths.legacySupportHelper(), "binary");
    writeAgent(PropertyList::writeXml(agentDefinition({"/usr/bin/true", "run"})));
    EXPECT_EQ(messageOf([&] { paths.removableLegacyFiles(); }), untouchedAgentMessage());
}

TEST_F(RemovableLegacyFilesTest, AReplacedCommandStopsTheWholeList) {
    writeFile(paths.legacyCommandLink(), "#!/bin/sh\n");
    writeFile(paths.legacySupportHelper(), "binary");
    writeAgent(PropertyList::writeXml(legacyAgentDefinition()));
    EXPECT_EQ(messageOf([&] { paths.removableLegacyFiles(); }),
              "The tessaly command has been replaced and will not be removed.");
}

}  // namespace
}  // namespace tessaly
