#include <gtest/gtest.h>

#include "PortWorld.h"
#include "audio/MuteRule.h"

namespace tessaly::testing {
namespace {

const AudioObjectPropertyAddress processList{kAudioHardwarePropertyProcessObjectList,
                                             kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};

AudioObjectPropertyAddress global(AudioObjectPropertySelector selector) {
    return {selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
}

/// The same port tests against the world embedded in the test and against a tessaly-session process.
class PortContractTest : public ::testing::TestWithParam<bool> {
protected:
    PortContractTest() {
        if (GetParam()) {
            world = std::make_unique<SessionProcess>();
        } else {
            world = std::make_unique<EmbeddedWorld>();
        }
    }

    std::vector<AudioObjectID> processes() {
        std::uint32_t size = 0;
        EXPECT_EQ(world->audio().AudioObjectGetPropertyDataSize(kAudioObjectSystemObject, processList, size),
                  0);
        std::vector<AudioObjectID> ids(size / sizeof(AudioObjectID));
        EXPECT_EQ(world->audio().AudioObjectGetPropertyData(kAudioObjectSystemObject, processList, size,
                                                            ids.data()),
                  0);
        ids.resize(size / sizeof(AudioObjectID));
        return ids;
    }

    std::optional<CFValue> attribute(const AXUIElement& element, const std::string& name) {
        std::optional<CFValue> value;
        EXPECT_EQ(world->accessibility().copyAttributeValue(element, name, value), kAXErrorSuccess) << name;
        return value;
    }

    // The elements under `element` with this role, depth first.
    std::vector<AXUIElement> find(const AXUIElement& element, const std::string& role) {
        std::vector<AXUIElement> found;
        std::optional<CFValue> children;
        if (world->accessibility().copyAttributeValue(element, "AXChildren", children) != kAXErrorSuccess ||
            !children)
            return found;
        for (const CFValue& child : *children->array()) {
            if (attribute(*child.element(), "AXRole") == CFValue(role)) found.push_back(*child.element());
            for (const auto& deeper : find(*child.element(), role)) found.push_back(deeper);
        }
        return found;
    }

    std::unique_ptr<PortWorld> world;
};

TEST_P(PortContractTest, ProcessObjectsAndStatusesAsTheAudioServerGivesThem) {
    EXPECT_TRUE(processes().empty());
    world->act({"launch-quicklook"});
    const auto ids = processes();
    ASSERT_EQ(ids.size(), 1u);

    std::uint32_t size = kCFTypeRefSize;
    std::optional<CFValue> bundle;
    EXPECT_EQ(world->audio().AudioObjectGetPropertyData(ids[0], global(kAudioProcessPropertyBundleID), size,
                                                        bundle),
              0);
    EXPECT_EQ(bundle, CFValue(std::string(MuteRule::targetBundleID)));
    std::uint32_t pid = 0;
    size = sizeof pid;
    EXPECT_EQ(world->audio().AudioObjectGetPropertyData(ids[0], global(kAudioProcessPropertyPID), size, pid),
              0);
    EXPECT_EQ(pid, 512u);

    // Failures keep their exact statuses: an unknown object, a slot too small, an unknown property.
    size = sizeof pid;
    EXPECT_EQ(world->audio().AudioObjectGetPropertyData(999, global(kAudioProcessPropertyPID), size, pid),
              kAudioHardwareBadObjectError);
    size = 2;
    EXPECT_EQ(world->audio().AudioObjectGetPropertyData(ids[0], global(kAudioProcessPropertyPID), size, pid),
              kAudioHardwareBadPropertySizeError);
    size = kCFTypeRefSize;
    EXPECT_EQ(world->audio().AudioObjectGetPropertyData(ids[0], global(fourCharCode("zzzz")), size, bundle),
              kAudioHardwareUnknownPropertyError);
}

TEST_P(PortContractTest, ATapSilencesItsProcessUntilDestroyedAndKeepsItsDescription) {
    world->act({"open", "Harbour.mov"});
    CATapDescription description = CATapDescription::stereoMixdownOfProcesses(processes());
    description.name = "Tessaly - muted previews";
    description.muteBehavior = CATapMuted;
    description.isPrivate = true;
    description.deviceUID = std::nullopt;
    description.bundleIDs = {"com.apple.quicklook.QuickLookUIService"};
    AudioObjectID tap = 0;
    ASSERT_EQ(world->audio().AudioHardwareCreateProcessTap(description, tap), 0);
    EXPECT_NE(world->act({"state"}).find("heard 0 %"), std::string::npos);

    std::uint32_t size = kCFTypeRefSize;
    std::optional<CFValue> read;
    ASSERT_EQ(
        world->audio().AudioObjectGetPropertyData(tap, global(kAudioTapPropertyDescription), size, read), 0);
    ASSERT_TRUE(read && read->tapDescription());
    EXPECT_EQ(*read->tapDescription(), description);
    size = kCFTypeRefSize;
    ASSERT_EQ(world->audio().AudioObjectGetPropertyData(tap, global(kAudioTapPropertyUID), size, read), 0);
    const std::string uid = *read->text();

    AudioObjectID device = 0;
    const CFDictionary aggregate{
        {kAudioAggregateDeviceUIDKey, CFValue("com.orvanne.tessaly.tap.test")},
        {kAudioAggregateDeviceNameKey, CFValue("attachment")},
        {kAudioAggregateDeviceIsPrivateKey, CFValue(true)},
        {kAudioAggregateDeviceTapListKey,
         CFValue(CFArray{CFValue(CFDictionary{{kAudioSubTapUIDKey, CFValue(uid)}})})}};
    ASSERT_EQ(world->audio().AudioHardwareCreateAggregateDevice(aggregate, device), 0);
    AudioObjectID refused = 0;
    EXPECT_EQ(world->audio().AudioHardwareCreateAggregateDevice(aggregate, refused),
              kAudioHardwareIllegalOperationError);  // the UID is taken

    EXPECT_EQ(world->audio().AudioHardwareDestroyAggregateDevice(device), 0);
    EXPECT_EQ(world->audio().AudioHardwareDestroyProcessTap(tap), 0);
    EXPECT_EQ(world->audio().AudioHardwareDestroyProcessTap(tap), kAudioHardwareBadObjectError);
    EXPECT_NE(world->act({"state"}).find("heard 100 %"), std::string::npos);
}

TEST_P(PortContractTest, ListenersHearProcessListChangesOnTheirQueueUntilRemoved) {
    std::vector<AudioObjectPropertyAddress> heard;
    auto block = makeListenerBlock([&](const auto& addresses) {
        EXPECT_TRUE(world->loop.isMainThread());
        heard.insert(heard.end(), addresses.begin(), addresses.end());
    });
    ASSERT_EQ(world->audio().AudioObjectAddPropertyListenerBlock(kAudioObjectSystemObject, processList,
                                                                 world->loop, block),
              0);
    world->act({"launch-quicklook"});
    ASSERT_TRUE(world->runUntil([&] { return !heard.empty(); }));
    EXPECT_EQ(heard[0], processList);

    EXPECT_EQ(world->audio().AudioObjectRemovePropertyListenerBlock(kAudioObjectSystemObject, processList,
                                                                    world->loop, block),
              0);
    EXPECT_EQ(world->audio().AudioObjectRemovePropertyListenerBlock(kAudioObjectSystemObject, processList,
                                                                    world->loop, block),
              kAudioHardwareIllegalOperationError);
    heard.clear();
    world->act({"quit-quicklook"});
    world->runUntil([] { return false; }, 0.1);
    EXPECT_TRUE(heard.empty());
}

TEST_P(PortContractTest, APreviewsControlsAreReadAndDrivenThroughAccessibility) {
    world->act({"open", "Harbour.mov"});
    Accessibility& ax = world->accessibility();
    const AXUIElement finder = ax.createApplication(SessionWorld::finderPID);
    const auto windows = attribute(finder, "AXWindows");
    ASSERT_TRUE(windows && windows->array());
    ASSERT_EQ(windows->array()->size(), SessionWorld::finderWindowCount + 1u);
    const AXUIElement preview = *windows->array()->back().element();
    EXPECT_EQ(attribute(preview, "AXTitle"), CFValue("Harbour.mov"));

    // The timeline, then the volume slider; the speaker is the last button.
    const auto sliders = find(preview, "AXSlider");
    ASSERT_EQ(sliders.size(), 2u);
    bool settable = false;
    EXPECT_EQ(ax.isAttributeSettable(sliders[1], "AXValue", settable), kAXErrorSuccess);
    EXPECT_TRUE(settable);
    EXPECT_EQ(ax.setAttributeValue(sliders[1], "AXValue", CFValue(0.25)), kAXErrorSuccess);
    EXPECT_NE(world->act({"state"}).find("slider 25 %; heard 25 %"), std::string::npos);
    EXPECT_EQ(ax.setAttributeValue(sliders[1], "AXValue", CFValue("loud")), kAXErrorIllegalArgument);
    EXPECT_EQ(ax.performAction(find(preview, "AXButton").back(), "AXPress"), kAXErrorSuccess);
    EXPECT_NE(world->act({"state"}).find("slider 0 %, speaker muted; heard 0 %"), std::string::npos);

    ProcessID pid = 0;
    EXPECT_EQ(ax.getPid(preview, pid), kAXErrorSuccess);
    EXPECT_EQ(pid, SessionWorld::finderPID);
    std::optional<CFValue> none;
    EXPECT_EQ(ax.copyAttributeValue(preview, "AXNoSuchThing", none), kAXErrorAttributeUnsupported);

    world->act({"trust", "revoke"});
    EXPECT_FALSE(ax.isProcessTrusted());
    EXPECT_EQ(ax.copyAttributeValue(preview, "AXTitle", none), kAXErrorAPIDisabled);
    world->act({"trust", "grant"});
    EXPECT_TRUE(ax.isProcessTrustedWithOptions(true));
}

struct Notice {
    std::string notification;
    void* refcon;
};

void collect(const AXObserverRef&, const AXUIElement&, const std::string& notification, void* refcon) {
    static_cast<std::vector<Notice>*>(refcon)->push_back({notification, refcon});
}

TEST_P(PortContractTest, ObserversHearAnApplicationsNotificationsWithTheirContextWhileInTheRunLoop) {
    Accessibility& ax = world->accessibility();
    AXObserverRef observer;
    ASSERT_EQ(ax.observerCreate(SessionWorld::finderPID, &collect, observer), kAXErrorSuccess);
    std::vector<Notice> notices;
    const AXUIElement finder = ax.createApplication(SessionWorld::finderPID);
    ASSERT_EQ(ax.observerAddNotification(observer, finder, "AXWindowCreated", &notices), kAXErrorSuccess);
    EXPECT_EQ(ax.observerAddNotification(observer, finder, "AXWindowCreated", &notices),
              kAXErrorNotificationAlreadyRegistered);

    world->act({"open", "Harbour.mov"});
    world->runUntil([] { return false; }, 0.1);
    EXPECT_TRUE(notices.empty());  // not in the run loop yet

    ax.observerAddToMainRunLoop(observer);
    world->act({"open", "Second.mov"});
    ASSERT_TRUE(world->runUntil([&] { return !notices.empty(); }));
    EXPECT_EQ(notices[0].notification, "AXWindowCreated");
    EXPECT_EQ(notices[0].refcon, &notices);

    EXPECT_EQ(ax.observerRemoveNotification(observer, finder, "AXWindowCreated"), kAXErrorSuccess);
    notices.clear();
    world->act({"open", "Third.mov"});
    world->runUntil([] { return false; }, 0.1);
    EXPECT_TRUE(notices.empty());
}

TEST_P(PortContractTest, TheWorkspaceListsFinder) {
    const auto finders = world->workspace().runningApplications(SessionWorld::finderBundleID);
    ASSERT_EQ(finders.size(), 1u);
    EXPECT_EQ(finders[0].processIdentifier, SessionWorld::finderPID);
    EXPECT_TRUE(world->workspace().runningApplications("com.example.none").empty());
}

INSTANTIATE_TEST_SUITE_P(EmbeddedAndSession, PortContractTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "Session" : "Embedded";
                         });

}  // namespace
}  // namespace tessaly::testing
