#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "audio/MuteRule.h"
#include "foundation/TessalyError.h"
#include "support/ErrorMessage.h"

namespace tessaly {
namespace {

using testing::messageOf;

constexpr char quickLook[] = "com.apple.quicklook.QuickLookUIService";
constexpr char muteRuleLost[] = "Core Audio did not retain the Quick Look-only mute rule.";
constexpr char bundleTargetingLost[] = "Core Audio did not retain bundle targeting and restoration.";
constexpr char processTapChanged[] = "A process-specific mute tap no longer matches its Quick Look instance.";
constexpr char invalidAttachment[] = "The mute tap has no valid private, inactive, tap-only attachment.";

using Change = std::function<void(CATapDescription&)>;

CATapDescription changed(CATapDescription description, const Change& change) {
    change(description);
    return description;
}

// Changes that break the settings both kinds of tap share.
const std::vector<Change> muteRuleBreaks{
    [](CATapDescription& d) { d.isExclusive = true; },
    [](CATapDescription& d) { d.isPrivate = false; },
    [](CATapDescription& d) { d.muteBehavior = CATapUnmuted; },
    [](CATapDescription& d) { d.muteBehavior = CATapMutedWhenTapped; },
    [](CATapDescription& d) { d.deviceUID = "BuiltInSpeakerDevice"; },
};

TEST(MuteTapDescriptions, TheBundleTapTargetsQuickLookByBundleAndTheProcessTapOneProcessObject) {
    const CATapDescription bundle = MuteRule::bundleDescription();
    const CATapDescription process = MuteRule::processDescription(140);
    for (const CATapDescription& description : {bundle, process}) {
        EXPECT_EQ(description.name, "Tessaly - muted previews");
        EXPECT_TRUE(description.isMixdown && !description.isMono);
    }
    EXPECT_TRUE(bundle.processes.empty());
    EXPECT_NO_THROW(MuteRule::validateBundle(bundle));
    EXPECT_TRUE(process.bundleIDs.empty());
    EXPECT_NO_THROW(MuteRule::validateProcess(process, 140));
}

TEST(MuteAttachmentDescription, IsAPrivateDeviceHoldingOnlyTheTapWithAFreshUpperCaseUUIDEachTime) {
    const std::regex form(
        "com\\.orvanne\\.tessaly\\.tap\\.[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    const CFDictionary first = MuteRule::attachmentDescription("TAP-UID");
    const std::string uid = *first.at("uid").text();
    EXPECT_TRUE(std::regex_match(uid, form)) << uid;
    EXPECT_EQ(first, (CFDictionary{
                         {"name", "Tessaly - private mute attachment"},
                         {"uid", uid},
                         {"private", true},
                         {"taps", CFArray{CFDictionary{{"uid", "TAP-UID"}, {"drift", true}}}},
                     }));
    EXPECT_NE(*MuteRule::attachmentDescription("TAP-UID").at("uid").text(), uid);
}

TEST(MuteDescriptionChecks, EachLostSettingFailsTheKindOfTapItBreaksWithItsOwnMessage) {
    const auto bundleFailure = [](const Change& change) {
        const auto description = changed(MuteRule::bundleDescription(), change);
        return messageOf([&] { MuteRule::validateBundle(description); });
    };
    const auto processFailure = [](const Change& change) {
        const auto description = changed(MuteRule::processDescription(90), change);
        return messageOf([&] { MuteRule::validateProcess(description, 90); });
    };
    for (const Change& change : muteRuleBreaks) {
        const auto bundle = changed(MuteRule::bundleDescription(), change);
        EXPECT_EQ(messageOf([&] { MuteRule::validateMuteProperties(bundle); }), muteRuleLost);
        EXPECT_EQ(bundleFailure(change), muteRuleLost);
        EXPECT_EQ(processFailure(change), muteRuleLost);
    }
    // The bundle tap keeps exactly its target and restoration.
    for (const Change& change : std::vector<Change>{
             [](CATapDescription& d) { d.bundleIDs.clear(); },
             [](CATapDescription& d) { d.bundleIDs.push_back("com.apple.finder"); },
             [](CATapDescription& d) { d.bundleIDs = {"com.apple.quicklook.quicklookuiservice"}; },
             [](CATapDescription& d) { d.isProcessRestoreEnabled = false; },
         })
        EXPECT_EQ(bundleFailure(change), bundleTargetingLost);
    // The process tap keeps its one process without restoration; it may report its bundle.
    for (const Change& change : std::vector<Change>{
             [](CATapDescription& d) { d.isProcessRestoreEnabled = true; },
             [](CATapDescription& d) { d.bundleIDs = {"com.apple.finder"}; },
             [](CATapDescription& d) {
                 d.bundleIDs = {quickLook, quickLook};
             },
             [](CATapDescription& d) { d.processes.clear(); },
             [](CATapDescription& d) { d.processes.push_back(140); },
             [](CATapDescription& d) { d.processes = {140}; },
         })
        EXPECT_EQ(processFailure(change), processTapChanged);
    EXPECT_EQ(messageOf([] { MuteRule::validateProcess(MuteRule::bundleDescription(), 90); }),
              processTapChanged);
    EXPECT_EQ(processFailure([](CATapDescription& d) { d.bundleIDs = {quickLook}; }), "no error");
}

MuteAttachmentState validAttachment() {
    return MuteAttachmentState{true, {"TAP"}, {}, {}, false};
}

TEST(MuteAttachmentChecks, AcceptOnlyAPrivateStoppedDeviceHoldingOnlyTheTap) {
    EXPECT_NO_THROW(MuteRule::validateAttachment(validAttachment(), "TAP"));
    const std::vector<std::function<void(MuteAttachmentState&)>> breaks{
        [](MuteAttachmentState& s) { s.isPrivate = false; },
        [](MuteAttachmentState& s) { s.tapUIDs.clear(); },
        [](MuteAttachmentState& s) { s.tapUIDs = {"OTHER"}; },
        [](MuteAttachmentState& s) { s.tapUIDs.push_back("TAP"); },
        [](MuteAttachmentState& s) { s.subDeviceUIDs = {"BuiltInSpeakerDevice"}; },
        [](MuteAttachmentState& s) { s.outputStreams = {77}; },
        [](MuteAttachmentState& s) { s.isRunning = true; },
    };
    for (const auto& change : breaks) {
        MuteAttachmentState state = validAttachment();
        change(state);
        EXPECT_EQ(messageOf([&] { MuteRule::validateAttachment(state, "TAP"); }), invalidAttachment);
    }
}

}  // namespace
}  // namespace tessaly
