#include <gtest/gtest.h>

#include "foundation/DecodingError.h"
#include "foundation/TessalyError.h"
#include "foundation/Version.h"
#include "service/AudioStatus.h"
#include "service/StatusReply.h"

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

std::string failureOf(const AudioStatus& status) {
    try {
        status.validate();
    } catch (const TessalyError& error) {
        return error.what();
    }
    return "healthy";
}

const std::string unguarded = "The remembered mute is not protected by a healthy Quick Look-only guard.";
const std::string inconsistent = "Tessaly returned an inconsistent audio state.";

TEST(StatusValidation, AcceptsAHealthyMutedAndAudibleHelper) {
    EXPECT_EQ(failureOf(mutedStatus()), "healthy");
    EXPECT_EQ(failureOf(audibleStatus(0.7)), "healthy");
}

TEST(StatusValidation, RequiresAHealthyGuardWhileMuted) {
    auto status = mutedStatus();
    status.muteGuard->attachmentCount = 0;
    EXPECT_EQ(failureOf(status), unguarded);
    status = mutedStatus();
    status.muteGuard->audioIOStarted = true;
    EXPECT_EQ(failureOf(status), unguarded);
    status = mutedStatus();
    status.muteGuard->bundleID = "com.apple.finder";
    EXPECT_EQ(failureOf(status), unguarded);
    status = mutedStatus();
    status.muteGuard.reset();
    EXPECT_EQ(failureOf(status), unguarded);
}

TEST(StatusValidation, RefusesAGuardWhileAudible) {
    auto status = audibleStatus(0.7);
    status.muteGuard = healthyGuard();
    EXPECT_EQ(failureOf(status), "An external mute guard is still active despite the chosen audible volume.");
}

TEST(StatusValidation, ChecksInTheDocumentedOrder) {
    auto status = mutedStatus();
    status.volume = status.unmutedVolume = 0.3;  // muted flag now wrong as well
    EXPECT_EQ(failureOf(status), inconsistent);
    status = mutedStatus();
    status.userChangeCount = -1;
    EXPECT_EQ(failureOf(status), inconsistent);

    status = mutedStatus();
    status.mode = "other";
    status.userChangeCount = -1;
    EXPECT_EQ(failureOf(status), "The installed Tessaly helper needs to be updated or restarted.");
    status = mutedStatus();
    status.version = "1.3.9";
    EXPECT_EQ(failureOf(status), "The installed Tessaly helper needs to be updated or restarted.");

    status = audibleStatus(0.5);
    status.unmutedVolume = 0.8;
    EXPECT_EQ(failureOf(status), "The saved audible volume is inconsistent with the preview volume.");

    status = mutedStatus();
    status.accessibilityTrusted = false;
    status.error = "Something else.";
    EXPECT_EQ(failureOf(status), "Open Tessaly and allow Accessibility to finish setup.");
    status.accessibilityTrusted = true;
    EXPECT_EQ(failureOf(status), "Something else.");
}

TEST(StatusJson, LeavesAbsentOptionalsOut) {
    const auto text = Json::writeCompact(audibleStatus(0.5).toJson());
    EXPECT_EQ(text.find("muteGuard"), std::string::npos);
    EXPECT_EQ(text.find("error"), std::string::npos);
    EXPECT_EQ(text.find("null"), std::string::npos);
}

TEST(StatusJson, RoundTripsThroughTheReplyEnvelope) {
    auto status = mutedStatus();
    status.muteGuard->processIDs = {90, 140};
    status.muteGuard->previewPIDs = {95, 812};
    status.error = "Cannot save the chosen Quick Look audio setting: disk full.";
    const auto reply = StatusReply::decode(StatusReply{status, std::nullopt}.encode());
    ASSERT_TRUE(reply.status);
    EXPECT_EQ(*reply.status, status);
    EXPECT_FALSE(reply.error);
}

TEST(StatusJson, DecodesTheDocumentedExampleAndRefusesMissingMembers) {
    const std::string example =
        R"({"status":{"version":"1.4.0","pid":812,"mode":"remember-volume","accessibilityTrusted":true,)"
        R"("volume":0.5,"unmutedVolume":0.5,"muted":false,"previewCount":1,"pendingControlCount":0,)"
        R"("restorationCount":3,"userChangeCount":1,"pendingPreferenceWrite":false,"muteGuard":null}})";
    const auto reply = StatusReply::decode(example);
    ASSERT_TRUE(reply.status);
    EXPECT_EQ(reply.status->restorationCount, 3);
    EXPECT_FALSE(reply.status->muteGuard);
    EXPECT_EQ(failureOf(*reply.status), "healthy");

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

}  // namespace
}  // namespace tessaly

namespace tessaly {
namespace {

TEST(StatusSummary, RoundsTheVolumeHalfAwayFromZero) {
    auto status = audibleStatus(0.35);
    status.previewCount = 2;
    EXPECT_EQ(status.summary(), "Quick Look audio memory is ON. Volume 35%. Native previews: 2.\n");
    EXPECT_EQ(audibleStatus(0.005).summary(),
              "Quick Look audio memory is ON. Volume 1%. Native previews: 0.\n");
    EXPECT_EQ(audibleStatus(0.004).summary(),
              "Quick Look audio memory is ON. Volume 0%. Native previews: 0.\n");
    EXPECT_EQ(audibleStatus(1.0).summary(),
              "Quick Look audio memory is ON. Volume 100%. Native previews: 0.\n");
}

TEST(StatusSummary, AddsALineForContainersWaitingForControls) {
    auto status = mutedStatus();
    EXPECT_EQ(status.summary(), "Quick Look audio memory is ON. Muted. Native previews: 0.\n");
    status.pendingControlCount = 3;
    EXPECT_EQ(
        status.summary(),
        "Quick Look audio memory is ON. Muted. Native previews: 0.\nPreview containers waiting for native controls: 3.\n");
}

}  // namespace
}  // namespace tessaly
