// What the core relies on from Core Audio, Accessibility and the workspace, asked of every route to
// the simulated Mac: the simulation itself, the Mac adapters over the stand-in frameworks that route
// into it (every Core Foundation reference given back by the end of each test), and a
// tessaly-session process through its client adapters. Checks that need to reach into the world
// (injected failures, its own bookkeeping) run in the test's process only.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "audio/AudioHardware.h"
#include "audio/MuteRule.h"
#include "audio/MuteTap.h"
#include "mac/MacAccessibility.h"
#include "mac/MacCoreAudio.h"
#include "mac/MacWorkspace.h"
#include "mac/standin/MacStandin.h"
#include "platform/mac/BalancedReferences.h"
#include "support/CapturingLog.h"
#include "support/DesktopFixture.h"
#include "support/ErrorMessage.h"
#include "support/PortWorld.h"

namespace tessaly::testing {
namespace {

using ::testing::ElementsAre;

/// The world in the test's process, asked through the Mac adapters over the stand-in frameworks.
class MacAdapterWorld : public LocalWorld {
public:
    MacAdapterWorld() {
        MacStandin::resetReferenceCounts();
        MacStandin::routeCoreAudio(&world.audio);
        MacStandin::routeAccessibility(&world.desktop);
        MacStandin::routeMainQueue(&runLoop);
        MacStandin::routeWorkspace(&world.workspace);
        audio_ = std::make_unique<MacCoreAudio>();
        // Few elements between sweeps, so that every test here runs through sweeps.
        accessibility_ = std::make_unique<MacAccessibility>(sweepElementsFrom);
    }
    ~MacAdapterWorld() override {
        audio_.reset();
        accessibility_.reset();
        runLoop.runUntilIdle();
        expectBalancedReferences();
        MacStandin::routeCoreAudio(nullptr);
        MacStandin::routeAccessibility(nullptr);
        MacStandin::routeMainQueue(nullptr);
        MacStandin::routeWorkspace(nullptr);
    }
    static constexpr std::size_t sweepElementsFrom = 64;
    CoreAudio& audio() override { return *audio_; }
    Accessibility& accessibility() override { return *accessibility_; }
    Workspace& workspace() override { return workspace_; }

private:
    MacWorkspace workspace_;
    std::unique_ptr<MacCoreAudio> audio_;
    std::unique_ptr<MacAccessibility> accessibility_;
};

struct Route {
    std::string name;
    std::function<std::unique_ptr<PortWorld>()> make;
};

void PrintTo(const Route& route, std::ostream* out) {
    *out << route.name;
}

const Route simulation{"Simulation", [] { return std::make_unique<LocalWorld>(); }};
const Route macAdapter{"MacAdapter", [] { return std::make_unique<MacAdapterWorld>(); }};
const Route session{"Session", [] { return std::make_unique<SessionProcess>(); }};

std::string routeName(const ::testing::TestParamInfo<Route>& route) {
    return route.param.name;
}

constexpr OSStatus badObject = kAudioHardwareBadObjectError;
constexpr ProcessID finder = SessionWorld::finderPID;

AudioObjectPropertyAddress global(AudioObjectPropertySelector selector) {
    return {selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
}

const AudioObjectPropertyAddress processList = global(kAudioHardwarePropertyProcessObjectList);

AudioObjectID addQuickLookProcess(LocalWorld& local, std::int32_t pid) {
    return local.world.audio.addProcess(std::string(MuteRule::targetBundleID), pid);
}

struct Heard {
    AXUIElement element;
    std::string notification;
    void* refcon;
};

void record(const AXObserverRef&, const AXUIElement& element, const std::string& notification, void* refcon) {
    static_cast<std::vector<Heard>*>(refcon)->push_back({element, notification, refcon});
}

class PortContract : public ::testing::TestWithParam<Route> {
protected:
    void SetUp() override { world = GetParam().make(); }
    void TearDown() override {
        controller.reset();
        observer.reset();
        heard.clear();
        world.reset();
    }

    CoreAudio& audio() { return world->audio(); }
    Accessibility& ax() { return world->accessibility(); }
    /// The world when it lives in the test's process, else nothing.
    LocalWorld* inProcess() { return dynamic_cast<LocalWorld*>(world.get()); }

    std::vector<AudioObjectID> processes() {
        return AudioHardware::objectIDs(audio(), kAudioObjectSystemObject,
                                        kAudioHardwarePropertyProcessObjectList);
    }

    std::optional<CFValue> attribute(const AXUIElement& element, const std::string& name) {
        std::optional<CFValue> value;
        EXPECT_EQ(ax().copyAttributeValue(element, name, value), kAXErrorSuccess) << name;
        return value;
    }

    CFArray windows() {
        const auto value = attribute(ax().createApplication(finder), "AXWindows");
        return value && value->array() ? *value->array() : CFArray{};
    }

    // The elements under `element` with this role, depth first.
    std::vector<AXUIElement> find(const AXUIElement& element, const std::string& role) {
        std::vector<AXUIElement> found;
        std::optional<CFValue> children;
        if (ax().copyAttributeValue(element, "AXChildren", children) != kAXErrorSuccess || !children)
            return found;
        for (const CFValue& child : *children->array()) {
            if (attribute(*child.element(), "AXRole") == CFValue(role)) found.push_back(*child.element());
            for (const auto& deeper : find(*child.element(), role)) found.push_back(deeper);
        }
        return found;
    }

    std::unique_ptr<PortWorld> world;
    CapturingLog log;
    std::unique_ptr<PreviewController> controller;
    AXObserverRef observer;
    std::vector<Heard> heard;
};

/// The contract checks that reach into the world, for the routes in the test's process.
class InProcessPortContract : public PortContract {
protected:
    void SetUp() override {
        PortContract::SetUp();
        local = inProcess();
        ASSERT_NE(local, nullptr);
    }

    AudioObjectID addQuickLookProcess(std::int32_t pid) { return testing::addQuickLookProcess(*local, pid); }
    SimulatedPreview openPreview() { return local->world.desktop.openPreview(finder); }

    LocalWorld* local = nullptr;
};

TEST_P(PortContract, ProcessObjectsAndStatusesAsTheAudioServerGivesThem) {
    EXPECT_TRUE(processes().empty());
    world->act({"launch-quicklook"});
    const auto ids = processes();
    ASSERT_EQ(ids.size(), 1u);

    std::uint32_t size = kCFTypeRefSize;
    std::optional<CFValue> bundle;
    EXPECT_EQ(audio().AudioObjectGetPropertyData(ids[0], global(kAudioProcessPropertyBundleID), size, bundle),
              0);
    EXPECT_EQ(bundle, CFValue(std::string(MuteRule::targetBundleID)));
    std::uint32_t pid = 0;
    size = sizeof pid;
    EXPECT_EQ(audio().AudioObjectGetPropertyData(ids[0], global(kAudioProcessPropertyPID), size, pid), 0);
    EXPECT_EQ(pid, 512u);

    // Failures keep their exact statuses: an unknown object, a slot too small, an unknown property;
    // a refused object read leaves its slot empty.
    const std::tuple<AudioObjectID, AudioObjectPropertySelector, std::uint32_t, OSStatus> failures[] = {
        {999, kAudioProcessPropertyPID, sizeof pid, badObject},
        {ids[0], kAudioProcessPropertyPID, 2, kAudioHardwareBadPropertySizeError},
        {999, kAudioProcessPropertyBundleID, kCFTypeRefSize, badObject},
        {ids[0], kAudioProcessPropertyBundleID, 2, kAudioHardwareBadPropertySizeError},
        {ids[0], fourCharCode("zzzz"), kCFTypeRefSize, kAudioHardwareUnknownPropertyError},
    };
    for (const auto& [object, selector, slot, status] : failures) {
        size = slot;
        bundle = std::nullopt;
        const OSStatus got = selector == kAudioProcessPropertyPID
                                 ? audio().AudioObjectGetPropertyData(object, global(selector), size, pid)
                                 : audio().AudioObjectGetPropertyData(object, global(selector), size, bundle);
        EXPECT_EQ(got, status) << object << " " << selector;
        EXPECT_FALSE(bundle) << object << " " << selector;
    }
}

TEST_P(PortContract, AMuteTapSilencesItsProcessUntilRemovedAndReadsBackThroughThePort) {
    world->act({"open", "Harbour.mov"});
    if (LocalWorld* local = inProcess()) {  // a second preview service, and another application
        addQuickLookProcess(*local, 513);
        local->world.audio.addProcess("com.apple.finder", 80);
    }
    const auto matching = AudioHardware::matchingProcesses(audio());
    ASSERT_EQ(matching.size(), inProcess() ? 2u : 1u);
    EXPECT_EQ(matching.back().pid, inProcess() ? 513 : 512);

    CATapDescription description = MuteRule::processDescription(matching[0].id);
    description.bundleIDs = {std::string(MuteRule::targetBundleID)};
    const MuteTap tap = MuteTap::create(audio(), log, description);
    EXPECT_NE(world->act({"state"}).find("heard 0 %"), std::string::npos);
    EXPECT_NO_THROW(tap.validateAttachment(audio()));
    EXPECT_EQ(tap.readDescription(audio()), description);
    EXPECT_EQ(AudioHardware::object(audio(), tap.id, kAudioTapPropertyUID), CFValue(tap.uid));
    EXPECT_EQ(AudioHardware::object(audio(), tap.attachmentID, kAudioAggregateDevicePropertyTapList),
              CFValue(CFArray{tap.uid}));
    if (LocalWorld* local = inProcess()) {
        EXPECT_EQ(tap.uid, *local->world.audio.tapUID(tap.id));
    }

    // An aggregate device's UID is its own: a second device with it is refused.
    const CFDictionary aggregate = MuteRule::attachmentDescription(tap.uid);
    AudioObjectID device = 0;
    AudioObjectID refused = 0;
    ASSERT_EQ(audio().AudioHardwareCreateAggregateDevice(aggregate, device), 0);
    EXPECT_EQ(audio().AudioHardwareCreateAggregateDevice(aggregate, refused),
              kAudioHardwareIllegalOperationError);
    EXPECT_EQ(audio().AudioHardwareDestroyAggregateDevice(device), 0);

    EXPECT_EQ(tap.remove(audio()), std::nullopt);
    EXPECT_NE(world->act({"state"}).find("heard 100 %"), std::string::npos);
    EXPECT_EQ(audio().AudioHardwareDestroyProcessTap(tap.id), badObject);
    if (LocalWorld* local = inProcess()) {
        EXPECT_TRUE(local->world.audio.tapIDs().empty());
        EXPECT_TRUE(local->world.audio.aggregateDeviceIDs().empty());
    }
}

TEST_P(PortContract, ListenersHearProcessListChangesOnTheMainLoopUntilTheVeryBlockIsRemoved) {
    std::vector<AudioObjectPropertyAddress> heardAddresses;
    auto block = makeListenerBlock([&](const auto& addresses) {
        EXPECT_TRUE(world->loop().isMainThread());
        heardAddresses.insert(heardAddresses.end(), addresses.begin(), addresses.end());
    });
    auto remove = [&](const AudioObjectPropertyAddress& address,
                      const AudioObjectPropertyListenerBlock& which) {
        return audio().AudioObjectRemovePropertyListenerBlock(kAudioObjectSystemObject, address,
                                                              world->loop(), which);
    };
    EXPECT_EQ(audio().AudioObjectAddPropertyListenerBlock(4711, processList, world->loop(), block),
              badObject);
    ASSERT_EQ(audio().AudioObjectAddPropertyListenerBlock(kAudioObjectSystemObject, processList,
                                                          world->loop(), block),
              0);
    if (LocalWorld* local = inProcess()) {
        local->world.launchQuickLook();
        EXPECT_TRUE(heardAddresses.empty()) << "heard before the loop turned";
    } else {
        world->act({"launch-quicklook"});
    }
    ASSERT_TRUE(world->runUntil([&] { return !heardAddresses.empty(); }));
    world->settle();
    EXPECT_EQ(heardAddresses, std::vector<AudioObjectPropertyAddress>{processList});
    world->act({"quit-quicklook"});
    EXPECT_TRUE(world->runUntil([&] { return heardAddresses.size() == 2; }));

    EXPECT_EQ(remove(processList, makeListenerBlock([](const auto&) {})),
              kAudioHardwareIllegalOperationError);
    EXPECT_EQ(remove(global(kAudioHardwarePropertyServiceRestarted), block),
              kAudioHardwareIllegalOperationError);
    EXPECT_EQ(remove(processList, block), 0);
    EXPECT_EQ(remove(processList, block), kAudioHardwareIllegalOperationError);
    world->act({"launch-quicklook"});
    world->settle();
    EXPECT_EQ(heardAddresses.size(), 2u);
    if (LocalWorld* local = inProcess()) {
        EXPECT_EQ(local->world.audio.listenerCount(), 0u);
    }
}

TEST_P(InProcessPortContract, AudioStatusesAndSizesPassThroughUnchanged) {
    SimulatedCoreAudio& simulated = local->world.audio;
    const AudioObjectID process = addQuickLookProcess(500);
    const AudioObjectPropertyAddress pid = global(kAudioProcessPropertyPID);
    const AudioObjectPropertyAddress bundleID = global(kAudioProcessPropertyBundleID);

    simulated.failProperty(process, kAudioProcessPropertyPID, -50);
    std::uint32_t value = 7;
    std::uint32_t size = 4;
    EXPECT_EQ(audio().AudioObjectGetPropertyData(process, pid, size, value), -50);
    EXPECT_EQ(value, 7u);

    simulated.failNext(CoreAudioCall::getPropertyDataSize, -1);
    EXPECT_EQ(messageOf([&] { processes(); }),
              "Reading audio object-list size failed (Core Audio status -1).");
    simulated.failNext(CoreAudioCall::createAggregateDevice, 1234);
    AudioObjectID device = 0;
    EXPECT_EQ(audio().AudioHardwareCreateAggregateDevice(MuteRule::attachmentDescription("X"), device), 1234);

    // Status 0 with no object: the slot stays empty.
    simulated.overrideObject(process, kAudioProcessPropertyBundleID, std::nullopt);
    std::optional<CFValue> object = CFValue("stale");
    size = kCFTypeRefSize;
    EXPECT_EQ(audio().AudioObjectGetPropertyData(process, bundleID, size, object), 0);
    EXPECT_FALSE(object);
}

TEST_P(InProcessPortContract, ListsThatChangeBetweenSizeAndReadAreCutOrRetried) {
    const std::vector<AudioObjectID> quickLook{addQuickLookProcess(500), addQuickLookProcess(501),
                                               addQuickLookProcess(502)};
    local->world.audio.afterNext(CoreAudioCall::getPropertyDataSize,
                                 [&] { local->world.audio.removeProcess(quickLook[2]); });
    EXPECT_EQ(processes(), (std::vector<AudioObjectID>{quickLook[0], quickLook[1]}));

    AudioObjectID added = 0;
    local->world.audio.afterNext(CoreAudioCall::getPropertyDataSize,
                                 [&] { added = addQuickLookProcess(600); });
    const auto grown = processes();
    EXPECT_EQ(grown, (std::vector<AudioObjectID>{quickLook[0], quickLook[1], added}));
}

TEST_P(PortContract, APreviewsControlsAreReadAndDrivenThroughAccessibility) {
    world->act({"open", "Harbour.mov"});
    const auto shown = windows();
    ASSERT_EQ(shown.size(), SessionWorld::finderWindowCount + 1u);
    const AXUIElement preview = *shown.back().element();
    EXPECT_EQ(attribute(preview, "AXTitle"), CFValue("Harbour.mov"));

    // The timeline, then the volume slider; the speaker is the last button.
    const auto sliders = find(preview, "AXSlider");
    ASSERT_EQ(sliders.size(), 2u);
    bool settable = false;
    EXPECT_EQ(ax().isAttributeSettable(sliders[1], "AXValue", settable), kAXErrorSuccess);
    EXPECT_TRUE(settable);
    EXPECT_EQ(ax().setAttributeValue(sliders[1], "AXValue", CFValue(0.25)), kAXErrorSuccess);
    EXPECT_NE(world->act({"state"}).find("slider 25 %; heard 25 %"), std::string::npos);
    EXPECT_EQ(ax().setAttributeValue(sliders[1], "AXValue", CFValue("loud")), kAXErrorIllegalArgument);
    EXPECT_EQ(ax().performAction(find(preview, "AXButton").back(), "AXPress"), kAXErrorSuccess);
    EXPECT_NE(world->act({"state"}).find("slider 0 %, speaker muted; heard 0 %"), std::string::npos);

    // One element reads as the same identity every time, and knows its application; each object
    // made for an application is one of its own.
    EXPECT_NE(ax().createApplication(finder), ax().createApplication(finder));
    EXPECT_EQ(windows(), shown);
    EXPECT_EQ(attribute(preview, "AXParent"), attribute(*shown.front().element(), "AXParent"));
    ProcessID pid = 0;
    EXPECT_EQ(ax().getPid(preview, pid), kAXErrorSuccess);
    EXPECT_EQ(pid, finder);
    std::optional<CFValue> none = CFValue("stale");
    EXPECT_EQ(ax().copyAttributeValue(preview, "AXNoSuchThing", none), kAXErrorAttributeUnsupported);

    // Trust is asked with and without the prompt; only the first shows it.
    EXPECT_TRUE(ax().isProcessTrusted());
    world->act({"trust", "revoke"});
    EXPECT_FALSE(ax().isProcessTrusted());
    EXPECT_EQ(ax().copyAttributeValue(preview, "AXTitle", none), kAXErrorAPIDisabled);
    EXPECT_FALSE(ax().isProcessTrustedWithOptions(false));
    // The prompts shown, counted where the desktop lives in the test's process.
    const auto promptsAre = [local = inProcess()](int count) {
        return !local || local->world.desktop.promptsShown() == count;
    };
    EXPECT_TRUE(promptsAre(0));
    EXPECT_FALSE(ax().isProcessTrustedWithOptions(true));
    EXPECT_TRUE(promptsAre(1));
    world->act({"trust", "grant"});
    EXPECT_TRUE(ax().isProcessTrustedWithOptions(true));
    EXPECT_TRUE(promptsAre(1));
}

TEST_P(PortContract, ObserversHearAnApplicationsNotificationsWithTheirContextWhileInTheRunLoopAndRegistered) {
    const AXUIElement application = ax().createApplication(finder);
    ASSERT_EQ(ax().observerCreate(finder, &record, observer), kAXErrorSuccess);
    ASSERT_TRUE(observer);
    if (LocalWorld* local = inProcess()) {
        local->world.desktop.refuseNotification("AXMenuOpened");
        EXPECT_EQ(ax().observerAddNotification(observer, application, "AXMenuOpened", &heard),
                  kAXErrorNotificationUnsupported);
    }
    ASSERT_EQ(ax().observerAddNotification(observer, application, "AXWindowCreated", &heard),
              kAXErrorSuccess);
    EXPECT_EQ(ax().observerAddNotification(observer, application, "AXWindowCreated", &heard),
              kAXErrorNotificationAlreadyRegistered);

    world->act({"open", "Harbour.mov"});
    world->settle();
    EXPECT_TRUE(heard.empty());  // not in the run loop yet

    ax().observerAddToMainRunLoop(observer);
    if (LocalWorld* local = inProcess()) {
        local->world.desktop.openPreview(finder);
        EXPECT_TRUE(heard.empty()) << "heard before the loop turned";
    } else {
        world->act({"open", "Second.mov"});
    }
    ASSERT_TRUE(world->runUntil([&] { return !heard.empty(); }));
    world->settle();
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].notification, "AXWindowCreated");
    EXPECT_EQ(heard[0].refcon, &heard);
    EXPECT_EQ(CFValue(heard[0].element), windows().back());  // the window just opened

    ax().observerRemoveFromMainRunLoop(observer);
    world->act({"open", "Third.mov"});
    world->settle();
    ax().observerAddToMainRunLoop(observer);
    ASSERT_EQ(ax().observerRemoveNotification(observer, application, "AXWindowCreated"), kAXErrorSuccess);
    world->act({"open", "Fourth.mov"});
    world->settle();
    EXPECT_EQ(heard.size(), 1u);
    EXPECT_EQ(ax().observerRemoveNotification(observer, application, "AXWindowCreated"),
              kAXErrorNotificationNotRegistered);
}

TEST_P(InProcessPortContract, ThePreviewControllerRestoresAndHearsTheUserThroughThePort) {
    SimulatedDesktop& desktop = local->world.desktop;
    const AudioPreference preference = AudioPreference::make(0.5, 0.5);
    std::vector<AudioPreference> choices;
    std::vector<std::string> notifications;
    controller = std::make_unique<PreviewController>(
        ax(), world->workspace(), world->loop(), log,
        [&](const AudioPreference& choice) { choices.push_back(choice); },
        [&](const std::string& name) { notifications.push_back(name); });

    const auto shown = openPreview();
    controller->synchronize(preference);
    EXPECT_EQ(desktop.outputLevel(shown), 0.5);
    EXPECT_THAT(desktop.observedNotifications(shown.volume),
                ElementsAre("AXValueChanged", "AXUIElementDestroyed"));
    // A hundred previews come and go beside it: the Mac adapter gives up their elements, and the open
    // preview keeps its identity (the user's change below is heard, nothing is restored again).
    for (int browsed = 0; browsed < 100; ++browsed) {
        const auto other = openPreview();
        controller->synchronize(preference);
        desktop.closeWindow(other.window);
        local->runLoop.runUntilIdle();
        controller->synchronize(preference);
    }
    if (auto mac = dynamic_cast<MacAccessibility*>(&ax())) {
        EXPECT_LE(mac->heldElementCount(), 3 * MacAdapterWorld::sweepElementsFrom);
    }
    desktop.clearWrites();
    notifications.clear();

    desktop.userMovesVolume(shown, 0.3);
    local->runLoop.runUntilIdle();
    EXPECT_THAT(notifications, ElementsAre("AXValueChanged"));
    controller->synchronize(preference);
    EXPECT_THAT(choices, ElementsAre(IsChoice(0.3, 0.3)));
    EXPECT_TRUE(desktop.writes().empty());

    desktop.userPressesSpeaker(shown);
    local->runLoop.runUntilIdle();
    controller->synchronize(AudioPreference::make(0.3, 0.3));
    EXPECT_THAT(choices, ElementsAre(IsChoice(0.3, 0.3), IsChoice(0.0, 0.3)));

    desktop.closeWindow(shown.window);
    local->runLoop.runUntilIdle();
    controller->synchronize(AudioPreference::make(0.0, 0.3));
    EXPECT_TRUE(controller->tracked().empty());
    controller.reset();
    EXPECT_EQ(desktop.liveObserverCount(), 0u);
}

TEST_P(InProcessPortContract, AccessibilityStatusesPassThroughUnchanged) {
    SimulatedDesktop& desktop = local->world.desktop;
    // A messaging timeout holds for the object it was set on: with Finder answering a second late,
    // the object given half a second times out, the one made after it for observing does not.
    const AXUIElement scanning = ax().createApplication(finder);
    const AXUIElement observing = ax().createApplication(finder);
    EXPECT_EQ(ax().setMessagingTimeout(scanning, 0.5f), kAXErrorSuccess);
    desktop.answerAfter(finder, 1.0);
    std::optional<CFValue> value;
    EXPECT_EQ(ax().copyAttributeValue(scanning, "AXWindows", value), kAXErrorCannotComplete);
    ASSERT_EQ(ax().observerCreate(finder, &record, observer), kAXErrorSuccess);
    EXPECT_EQ(ax().observerAddNotification(observer, observing, "AXWindowCreated", &heard), kAXErrorSuccess);
    desktop.makeSlow(finder, false);

    const auto shown = openPreview();
    const AXUIElement window = *windows().back().element();
    EXPECT_EQ(ax().copyAttributeValue(window, "AXTitle", value), kAXErrorSuccess);
    EXPECT_EQ(value, CFValue("Harbour.mov"));
    desktop.failCall(SimulatedDesktop::Call::performAction, kAXErrorCannotComplete);
    EXPECT_EQ(ax().performAction(window, "AXPress"), kAXErrorCannotComplete);
    desktop.failCall(SimulatedDesktop::Call::setAttributeValue, static_cast<AXError>(-4711));
    EXPECT_EQ(ax().setAttributeValue(window, "AXValue", CFValue(0.2)), -4711);
    bool settable = true;
    desktop.failCall(SimulatedDesktop::Call::isAttributeSettable, kAXErrorFailure);
    EXPECT_EQ(ax().isAttributeSettable(window, "AXValue", settable), kAXErrorFailure);

    desktop.failCall(SimulatedDesktop::Call::performAction, kAXErrorSuccess);
    desktop.closeWindow(shown.window);
    EXPECT_EQ(ax().copyAttributeValue(window, "AXTitle", value), kAXErrorInvalidUIElement);
    EXPECT_EQ(ax().copyAttributeValue(window, "AXTitle", value), kAXErrorInvalidUIElement);
    EXPECT_EQ(ax().performAction(window, "AXPress"), kAXErrorInvalidUIElement);
}

TEST_P(PortContract, TheWorkspaceListsFinder) {
    const auto finders = world->workspace().runningApplications(SessionWorld::finderBundleID);
    ASSERT_EQ(finders.size(), 1u);
    EXPECT_EQ(finders[0].processIdentifier, finder);
    EXPECT_TRUE(world->workspace().runningApplications("com.example.none").empty());
}

INSTANTIATE_TEST_SUITE_P(, PortContract, ::testing::Values(simulation, macAdapter, session), routeName);
INSTANTIATE_TEST_SUITE_P(, InProcessPortContract, ::testing::Values(simulation, macAdapter), routeName);

}  // namespace
}  // namespace tessaly::testing
