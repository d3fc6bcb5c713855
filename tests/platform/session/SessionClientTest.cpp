#include <gtest/gtest.h>

#include "support/PortWorld.h"

namespace tessaly::testing {
namespace {

TEST(SessionClientTest, WhatAClientMadeVanishesWhenItGoesAndTheSessionIsTheOnlyOneOfItsRuntimeFolder) {
    SessionProcess session;
    auto other = SessionConnection::connect(session.socketPath(), "other");
    ASSERT_TRUE(other);
    {
        SessionCoreAudio audio(other);
        CATapDescription description;
        description.name = "left behind";
        description.bundleIDs = {"com.apple.quicklook.QuickLookUIService"};
        description.muteBehavior = CATapMuted;
        AudioObjectID tap = 0;
        ASSERT_EQ(audio.AudioHardwareCreateProcessTap(description, tap), 0);
    }
    const std::string before = session.act({"state"});
    EXPECT_NE(
        before.find(
            "left behind, muting, for bundle com.apple.quicklook.QuickLookUIService, made by other (pid "),
        std::string::npos)
        << before;
    other.reset();
    // The session notices the closed socket on its own loop; ask until it has.
    std::string after;
    eventually([&] { return (after = session.act({"state"})).find("left behind") == std::string::npos; });
    EXPECT_NE(after.find("Taps:\n  none\n"), std::string::npos) << after;

    // One session per runtime folder, and none there means no connection.
    TemporaryDirectory elsewhere;
    EXPECT_EQ(SessionConnection::connect(elsewhere / "com.orvanne.tessaly.session", "nobody"), nullptr);
    std::string runtime = session.socketPath();
    runtime.resize(runtime.rfind('/'));
    ProcessRunner runner({{"HOME", session.home.path()}, {"XDG_RUNTIME_DIR", runtime}});
    const auto second = runner.run(TESSALY_SESSION_PATH, {"run"}, 10);
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_EQ(second.err, "tessaly-session: A session is already running for this user.\n");
    EXPECT_NE(session.act({"state"}).find("Previews:"), std::string::npos);  // the first one still serves
}

TEST(SessionClientTest, WhenTheSessionGoesTheAudioServerCountsAsRestartedAndCallsFail) {
    SessionProcess session;
    int restarts = 0;
    const AudioObjectPropertyAddress restarted{kAudioHardwarePropertyServiceRestarted,
                                               kAudioObjectPropertyScopeGlobal,
                                               kAudioObjectPropertyElementMain};
    ASSERT_EQ(session.audio().AudioObjectAddPropertyListenerBlock(
                  kAudioObjectSystemObject, restarted, session.loop(),
                  makeListenerBlock([&](const auto&) { ++restarts; })),
              0);
    session.act({"quit"});
    ASSERT_TRUE(session.runUntil([&] { return restarts == 1; }));
    std::uint32_t size = 0;
    EXPECT_EQ(session.audio().AudioObjectGetPropertyDataSize(kAudioObjectSystemObject, restarted, size),
              SessionCoreAudio::kAudioHardwareNotRunningError);
    EXPECT_FALSE(session.accessibility().isProcessTrusted());
    EXPECT_TRUE(session.workspace().runningApplications(SessionWorld::finderBundleID).empty());
}

}  // namespace
}  // namespace tessaly::testing
