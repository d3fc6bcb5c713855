#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "SetupFixture.h"
#include "preference/PreferenceStore.h"

namespace tessaly::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

/// An enabled installation with everything the legacy installer left and a saved choice.
class Uninstall : public SetupFixture {
protected:
    Uninstall() {
        serviceManagement.setStatus(SMAppServiceStatusEnabled);
        startHelper();
        storeChoice(0.25, 0.25);
        FileSystem::createDirectories(home + "/.local/bin", 0755);
        EXPECT_EQ(::symlink(paths.legacySupportCommand().c_str(), paths.legacyCommandLink().c_str()), 0);
        for (const auto& file : paths.legacySupportFiles()) writeFile(file, "legacy");
        installLegacyAgent();
        legacyAgentIsNotLoaded();
    }

    /// Whether anything, a dangling link included, is at `path`.
    static bool present(const std::string& path) {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0;
    }
};

TEST_F(Uninstall, RemovesLegacyFilesThenTrashesTheApplicationAndKeepsTheChoice) {
    service.uninstall();

    EXPECT_FALSE(present(paths.legacyCommandLink()));
    for (const auto& file : paths.legacySupportFiles()) EXPECT_FALSE(present(file)) << file;
    EXPECT_FALSE(present(paths.legacyAgent()));
    EXPECT_THAT(workspace.trashedItems(), ElementsAre(bundle));
    EXPECT_EQ(PreferenceStore(audioFile).load().volume(), 0.25);
    EXPECT_THAT(serviceManagement.calls(), ElementsAre("unregister com.orvanne.tessaly.agent.plist"));
}

TEST_F(Uninstall, RemovesInListOrderAndStopsAtTheFirstFailure) {
    // Swapped for a folder while the helper is being disabled, after the files were listed.
    const std::string installCommon = paths.legacySupportFiles()[1];
    serviceManagement.onUnregister([&] {
        stopHelper();
        FileSystem::removeFile(installCommon);
        FileSystem::createDirectories(installCommon, 0700);
    });

    EXPECT_EQ(messageOf([&] { service.uninstall(); }),
              "Removing \u201C" + installCommon + "\u201D failed: Is a directory.");
    EXPECT_FALSE(present(paths.legacyCommandLink()));
    EXPECT_FALSE(present(paths.legacySupportFiles()[0]));
    EXPECT_TRUE(present(paths.legacySupportFiles()[2]));
    EXPECT_TRUE(present(paths.legacySupportFiles()[3]));
    EXPECT_TRUE(present(paths.legacyAgent()));
    EXPECT_THAT(workspace.trashedItems(), IsEmpty());
}

/// What would make an uninstall fail midway: it fails before anything changes.
class UninstallRefusal : public Uninstall, public ::testing::WithParamInterface<int> {
protected:
    struct Refusal {
        std::function<void()> arrange;
        std::string message;
        bool helperAsked;
    };

    std::vector<Refusal> refusals() {
        return {
            {[&] { process.uid = uid + 1; },
             "This app is managed by another account. Disable audio memory, then ask its owner to remove the app.",
             false},
            {[&] {
                 FileSystem::removeFile(paths.legacyCommandLink());
                 writeFile(paths.legacyCommandLink(), "#!/bin/sh\n");
             },
             "The tessaly command has been replaced and will not be removed.", false},
            {[&] { workspace.failFindingTrash(EXDEV); },
             "Finding the Trash for \u201C" + bundle + "\u201D failed: Invalid cross-device link.", false},
            {[&] { flushReply = "Writing failed."; }, "Writing failed.", true},
        };
    }
};

TEST_P(UninstallRefusal, ChangesNothing) {
    const Refusal refusal = refusals().at(static_cast<std::size_t>(GetParam()));
    refusal.arrange();

    EXPECT_EQ(messageOf([&] { service.uninstall(); }), refusal.message);

    EXPECT_THAT(serviceManagement.calls(), IsEmpty());
    EXPECT_EQ(helperRequests.empty(), !refusal.helperAsked);
    EXPECT_TRUE(present(paths.legacyCommandLink()));
    for (const auto& file : paths.legacySupportFiles()) EXPECT_TRUE(present(file)) << file;
    EXPECT_TRUE(present(paths.legacyAgent()));
    EXPECT_THAT(workspace.trashedItems(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Cases, UninstallRefusal, ::testing::Range(0, 4));

TEST_F(Uninstall, TrashFailurePassesThrough) {
    workspace.failTrashing(EACCES);

    EXPECT_EQ(messageOf([&] { service.uninstall(); }),
              "Moving to the Trash \u201C" + bundle + "\u201D failed: Permission denied.");
    EXPECT_FALSE(present(paths.legacyAgent()));
}

}  // namespace
}  // namespace tessaly::testing
