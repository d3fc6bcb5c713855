#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "foundation/DecodingError.h"
#include "foundation/Version.h"
#include "service/AudioStatus.h"
#include "service/StatusReply.h"
#include "support/ErrorMessage.h"

namespace tessaly {
namespace {

MuteStatus healthyGuard() {
    MuteStatus guard;
    guard.version = std::string(version);
    guard.pid = 812;
    guard.bundleID = "com.apple.quicklook.QuickLookUIService";
    guard.tapID = 44;
    guard.tapCount = 1;
    guard.attachmentCount = 1;
    guard.muted = guard.privateTap = guard.restoresProcesses = true;
    return guard;
}

AudioStatus mutedStatus() {
    AudioStatus status;
    status.version = std::string(version);
    status.pid = 812;
    status.mode = "remember-volume";
    status.accessibilityTrusted = true;
    status.volume = 0;
    status.unmutedVolume = 0.4;
    status.muted = true;
    status.muteGuard = healthyGuard();
    return status;
}

AudioStatus audibleStatus(double volume) {
    AudioStatus status = mutedStatus();
    status.volume = status.unmutedVolume = volume;
    status.muted = false;
    status.muteGuard.reset();
    return status;
}

/// `status` changed by `change`.
template <typename Change>
AudioStatus with(AudioStatus status, Change change) {
    change(status);
    return status;
}

std::string failureOf(const AudioStatus& status) {
    return testing::messageOf([&] { status.validate(); });
}

TEST(StatusValidation, AcceptsAHealthyHelperAndChecksEverythingElseInTheDocumentedOrder) {
    const std::string unguarded = "The remembered mute is not protected by a healthy Quick Look-only guard.";
    const std::string inconsistent = "Tessaly returned an inconsistent audio state.";
    const std::string outdated = "The installed Tessaly helper needs to be updated or restarted.";
    const std::pair<std::function<AudioStatus()>, std::string> cases[] = {
        {mutedStatus, "no error"},
        {[] { return audibleStatus(0.7); }, "no error"},
        {[] { return audibleStatus(1.0); }, "no error"},
        // A muted helper needs a healthy guard, an audible one none.
        {[] { return with(mutedStatus(), [](auto& s) { s.muteGuard->attachmentCount = 0; }); }, unguarded},
        {[] { return with(mutedStatus(), [](auto& s) { s.muteGuard->audioIOStarted = true; }); }, unguarded},
        {[] { return with(mutedStatus(), [](auto& s) { s.muteGuard->bundleID = "com.apple.finder"; }); },
         unguarded},
        {[] { return with(mutedStatus(), [](auto& s) { s.muteGuard.reset(); }); }, unguarded},
        {[] { return with(audibleStatus(0.7), [](auto& s) { s.muteGuard = healthyGuard(); }); },
         "An external mute guard is still active despite the chosen audible volume."},
        // The muted flag is wrong as well here; consistency comes first.
        {[] { return with(mutedStatus(), [](auto& s) { s.volume = s.unmutedVolume = 0.3; }); }, inconsistent},
        {[] { return with(mutedStatus(), [](auto& s) { s.userChangeCount = -1; }); }, inconsistent},
        {[] {
             return with(mutedStatus(), [](auto& s) {
                 s.mode = "other";
                 s.userChangeCount = -1;
             });
         },
         outdated},
        {[] { return with(mutedStatus(), [](auto& s) { s.version = "1.3.9"; }); }, outdated},
        {[] { return with(audibleStatus(0.5), [](auto& s) { s.unmutedVolume = 0.8; }); },
         "The saved audible volume is inconsistent with the preview volume."},
        {[] {
             return with(mutedStatus(), [](auto& s) {
                 s.accessibilityTrusted = false;
                 s.error = "Something else.";
             });
         },
         "Open Tessaly and allow Accessibility to finish setup."},
        {[] { return with(mutedStatus(), [](auto& s) { s.error = "Something else."; }); }, "Something else."},
    };
    for (const auto& [status, failure] : cases) EXPECT_EQ(failureOf(status()), failure);
}

TEST(StatusJson, RoundTripsLeavingAbsentOptionalsOutDecodesTheDocumentedExampleAndRefusesMissingMembers) {
    const auto text = Json::writeCompact(audibleStatus(0.5).toJson());
    EXPECT_EQ(text.find("muteGuard"), std::string::npos);
    EXPECT_EQ(text.find("error"), std::string::npos);
    EXPECT_EQ(text.find("null"), std::string::npos);
    auto status = mutedStatus();
    status.muteGuard->processIDs = {90, 140};
    status.muteGuard->previewPIDs = {95, 812};
    status.error = "Cannot save the chosen Quick Look audio setting: disk full.";
    const auto roundTrip = StatusReply::decode(StatusReply{status, std::nullopt}.encode());
    EXPECT_EQ(roundTrip.status, status);
    EXPECT_FALSE(roundTrip.error);

    const std::string example =
        R"({"status":{"version":"1.4.0","pid":812,"mode":"remember-volume","accessibilityTrusted":true,)"
        R"("volume":0.5,"unmutedVolume":0.5,"muted":false,"previewCount":1,"pendingControlCount":0,)"
        R"("restorationCount":3,"userChangeCount":1,"pendingPreferenceWrite":false,"muteGuard":null}})";
    const auto reply = StatusReply::decode(example);
    ASSERT_TRUE(reply.status);
    EXPECT_EQ(reply.status->restorationCount, 3);
    EXPECT_FALSE(reply.status->muteGuard);
    EXPECT_EQ(failureOf(*reply.status), "no error");

    std::string withoutCount = example;
    withoutCount.erase(withoutCount.find(R"("previewCount":1,)"), 17);
    EXPECT_THROW(StatusReply::decode(withoutCount), DecodingError);

    std::string fractionalPid = example;
    fractionalPid.replace(fractionalPid.find("812"), 3, "8.5");
    EXPECT_THROW(StatusReply::decode(fractionalPid), DecodingError);

    auto guardJson = healthyGuard().toJson();
    guardJson.erase("audioIOStarted");
    EXPECT_THROW(MuteStatus::fromJson(Json::ObjectReader(guardJson)), DecodingError);
}

TEST(StatusSummary, RoundsTheVolumeHalfAwayFromZeroAndCountsContainersWaitingForControls) {
    auto status = audibleStatus(0.35);
    status.previewCount = 2;
    EXPECT_EQ(status.summary(), "Quick Look audio memory is ON. Volume 35%. Native previews: 2.\n");
    EXPECT_EQ(audibleStatus(0.005).summary(),
              "Quick Look audio memory is ON. Volume 1%. Native previews: 0.\n");
    EXPECT_EQ(audibleStatus(0.004).summary(),
              "Quick Look audio memory is ON. Volume 0%. Native previews: 0.\n");
    EXPECT_EQ(audibleStatus(1.0).summary(),
              "Quick Look audio memory is ON. Volume 100%. Native previews: 0.\n");

    // Containers waiting for their controls get a line of their own.
    status = mutedStatus();
    EXPECT_EQ(status.summary(), "Quick Look audio memory is ON. Muted. Native previews: 0.\n");
    status.pendingControlCount = 3;
    EXPECT_EQ(
        status.summary(),
        "Quick Look audio memory is ON. Muted. Native previews: 0.\nPreview containers waiting for native controls: 3.\n");
}

}  // namespace
}  // namespace tessaly
