#include "SessionWorld.h"

#include <algorithm>
#include <cstdio>

#include "LevelText.h"
#include "audio/MuteRule.h"
#include "foundation/Error.h"
#include "foundation/TessalyError.h"
#include "preference/PreferenceStore.h"

namespace tessaly {

namespace {

const std::string quickLookBundleID(MuteRule::targetBundleID);

}  // namespace

SessionWorld::SessionWorld(RunLoop& runLoop, std::string home)
    : desktop(runLoop),
      workspace(desktop),
      runLoop_(runLoop),
      home_(std::move(home)),
      started_(runLoop.now()) {
    desktop.launchApplication(finderBundleID, finderPID);
    openFinderWindows();
}

// Ordinary Finder browser windows: a toolbar, a sidebar and a list of files with many rows, as
// every pass of the helper reads every Finder window.
void SessionWorld::openFinderWindows() {
    const char* folders[finderWindowCount] = {"Documents", "Downloads", "Movies"};
    for (const char* folder : folders) {
        const AXUIElement window = desktop.openWindow(finderPID, folder);
        const AXUIElement toolbar = desktop.addElement(window, "AXToolbar");
        for (const char* button : {"Back", "Forward", "View", "Group", "Share", "Tags", "Action"})
            desktop.addElement(toolbar, "AXButton", {{"AXDescription", CFValue(button)}});
        desktop.addElement(toolbar, "AXTextField",
                           {{"AXSubrole", "AXSearchField"}, {"AXValue", CFValue("")}});
        const AXUIElement split = desktop.addElement(window, "AXSplitGroup");
        const AXUIElement sidebar =
            desktop.addElement(desktop.addElement(split, "AXScrollArea"), "AXOutline");
        for (const char* place :
             {"Recents", "Applications", "Desktop", "Documents", "Downloads", "Movies", "Music", "Pictures",
              "iCloud Drive", "Shared", "Network", "Red", "Orange", "Green"}) {
            const AXUIElement row = desktop.addElement(sidebar, "AXRow");
            const AXUIElement cell = desktop.addElement(row, "AXCell");
            desktop.addElement(cell, "AXImage");
            desktop.addElement(cell, "AXStaticText", {{"AXValue", CFValue(place)}});
        }
        const AXUIElement list = desktop.addElement(desktop.addElement(split, "AXScrollArea"), "AXOutline");
        for (int index = 1; index <= finderRowCount; ++index) {
            const AXUIElement row = desktop.addElement(list, "AXRow");
            const std::string name = std::string(folder) + " item " + std::to_string(index);
            for (const std::string& column : {name, std::string("12 Oct 2026 at 09:14"),
                                              std::string("1.2 MB"), std::string("Document")}) {
                const AXUIElement cell = desktop.addElement(row, "AXCell");
                desktop.addElement(cell, "AXStaticText", {{"AXValue", CFValue(column)}});
            }
        }
        desktop.addElement(window, "AXStaticText",
                           {{"AXValue", CFValue(std::to_string(finderRowCount) + " items")}});
    }
}

void SessionWorld::launchQuickLook() {
    if (quickLook_) return;
    quickLookPID_ = nextPID_++;
    desktop.launchApplication(quickLookBundleID, quickLookPID_);
    quickLook_ = audio.addProcess(quickLookBundleID, quickLookPID_);
    noteChanges();
}

void SessionWorld::quitQuickLook() {
    if (!quickLook_) return;
    for (auto& [number, preview] : previews_) {
        desktop.closeWindow(preview.handles.window);
        lives_[number].closed = now();
    }
    previews_.clear();
    audio.removeProcess(*quickLook_);
    desktop.quitApplication(quickLookPID_);
    quickLook_.reset();
    noteChanges();
}

int SessionWorld::openPreview(const PreviewOptions& options) {
    launchQuickLook();
    SimulatedPreview::Setup setup;
    setup.document = "file:///Users/tess/Movies/" + options.file;
    setup.title = options.file;
    setup.titleTexts = {options.file};
    setup.controlsExposed = !options.controlsAfter.has_value();
    const int number = nextPreview_++;
    lives_[number] = PreviewLife{options.file, now(), std::nullopt, std::nullopt, readRemembered()};
    previews_.emplace(number, OpenPreview{desktop.openPreview(finderPID, setup), options.file,
                                          options.playing, setup.controlsExposed});
    loadMedia(number);
    if (options.controlsAfter) {
        // The player shows them in its window, whichever file it shows by then.
        runLoop_.postAfter(*options.controlsAfter, [this, window = previews_.at(number).handles.window] {
            for (const auto& [shown, preview] : previews_) {
                if (preview.handles.window == window) return showControls(shown);
            }
        });
    }
    noteChanges();
    return number;
}

int SessionWorld::showNextFile(int preview, const std::string& file) {
    OpenPreview shown = open(preview);
    previews_.erase(preview);
    lives_[preview].closed = now();
    const int number = nextPreview_++;
    lives_[number] = PreviewLife{file, now(), std::nullopt, std::nullopt, readRemembered()};
    shown.file = file;
    shown.loaded = false;
    desktop.changeDocument(shown.handles, "file:///Users/tess/Movies/" + file, file);
    previews_.emplace(number, std::move(shown));
    loadMedia(number);
    noteChanges();
    return number;
}

void SessionWorld::loadMedia(int preview) {
    runLoop_.postAfter(mediaLoadDelay, [this, preview] {
        auto found = previews_.find(preview);
        if (found == previews_.end()) return;
        found->second.loaded = true;
        noteChanges();
    });
}

SessionWorld::OpenPreview& SessionWorld::open(int preview) {
    auto found = previews_.find(preview);
    if (found == previews_.end()) throw TessalyError("No preview " + std::to_string(preview) + " is open.");
    return found->second;
}

void SessionWorld::showControls(int preview) {
    OpenPreview& shown = open(preview);
    if (shown.controlsShown) return;
    shown.controlsShown = true;
    desktop.exposeControls(shown.handles);
    noteChanges();
}

void SessionWorld::pressSpeaker(int preview) {
    desktop.userPressesSpeaker(open(preview).handles);
    noteChanges();
}

void SessionWorld::setSlider(int preview, double level) {
    if (!(level >= 0 && level <= 1)) throw TessalyError("A slider level is a number from 0 to 1.");
    desktop.userMovesVolume(open(preview).handles, level);
    noteChanges();
}

void SessionWorld::setPlaying(int preview, bool playing) {
    open(preview).playing = playing;
    noteChanges();
}

void SessionWorld::closePreview(int preview) {
    desktop.closeWindow(open(preview).handles.window);
    previews_.erase(preview);
    lives_[preview].closed = now();
    noteChanges();
}

void SessionWorld::setTrusted(bool trusted) {
    if (trusted) {
        desktop.grantTrust();
    } else {
        desktop.revokeTrust();
    }
    noteChanges();
}

void SessionWorld::restartAudioServer() {
    audio.restartService();
    noteChanges();
}

void SessionWorld::setSlowFinder(bool slow) {
    slowFinder_ = slow;
    desktop.makeSlow(finderPID, slow);
}

double SessionWorld::slowFinderDelay(const AXUIElement& element) const {
    try {
        if (desktop.messagingTimeout(element)) return desktop.callTimeout(element);
    } catch (const std::logic_error&) {
        // not an element of the desktop
    }
    // An element read from Finder waits as long as the timeout given to Finder's application
    // objects. (On a Mac it would wait the system's 6 s: the session keeps the shorter wait.)
    if (auto application = desktop.applicationTimeout(finderPID)) return *application;
    return SimulatedDesktop::defaultMessagingTimeout;
}

double SessionWorld::book(bool accessibility, double cost) {
    double& busyUntil = accessibility ? accessibilityBusyUntil_ : coreAudioBusyUntil_;
    const double start = runLoop_.now();
    busyUntil = std::max(busyUntil, start) + cost;
    return busyUntil - start;
}

double SessionWorld::heardLevel(const OpenPreview& preview) const {
    if (!preview.loaded || !preview.playing || !quickLook_ || !audio.reachesOutput(*quickLook_)) return 0;
    return desktop.outputLevel(preview.handles);
}

void SessionWorld::noteChanges() {
    if (quickLook_) {
        bool anyPlaying = false;
        for (const auto& [number, preview] : previews_)
            anyPlaying = anyPlaying || (preview.loaded && preview.playing);
        audio.setPlaying(*quickLook_, anyPlaying);
    }
    const double time = now();
    for (auto& [number, last] : lastHeard_) {
        if (!previews_.count(number) && last != 0) {
            timeline_.push_back({time, number, 0});
            last = 0;
        }
    }
    for (const auto& [number, preview] : previews_) {
        const double level = heardLevel(preview);
        auto& life = lives_.at(number);
        if (preview.loaded && preview.playing && !life.soundStarted) {
            life.soundStarted = time;
            timeline_.push_back({time, number, level, true});
            lastHeard_[number] = level;
            continue;
        }
        auto last = lastHeard_.find(number);
        if (last != lastHeard_.end() && last->second == level) continue;
        timeline_.push_back({time, number, level});
        lastHeard_[number] = level;
    }
    std::erase_if(lastHeard_,
                  [&](const auto& entry) { return !previews_.count(entry.first) && entry.second == 0; });
    // A watcher may change the world; those it adds run from the next change on.
    std::vector<std::function<bool()>> current;
    current.swap(watchers_);
    for (auto& watcher : current) {
        if (!watcher()) watchers_.push_back(std::move(watcher));
    }
}

std::vector<SessionWorld::PreviewState> SessionWorld::previews() const {
    std::vector<PreviewState> states;
    for (const auto& [number, preview] : previews_) {
        PreviewState state;
        state.number = number;
        state.file = preview.file;
        state.playing = preview.playing;
        state.controlsShown = preview.controlsShown;
        state.soundStarted = lives_.at(number).soundStarted.has_value();
        state.slider = desktop.outputLevel(preview.handles);
        state.muted = desktop.isMuted(preview.handles);
        state.heard = heardLevel(preview);
        state.remembered = lives_.at(number).remembered;
        states.push_back(state);
    }
    return states;
}

std::optional<SessionWorld::PreviewState> SessionWorld::preview(int number) const {
    for (const auto& state : previews()) {
        if (state.number == number) return state;
    }
    return std::nullopt;
}

void SessionWorld::noteRemembered() {
    const auto level = readRemembered();
    if (!remembered_.empty() && remembered_.back().level == level) return;
    remembered_.push_back({now(), level});
}

std::optional<double> SessionWorld::readRemembered() const {
    try {
        if (auto preference = PreferenceStore::forHome(home_).loadIfPresent()) return preference->volume();
    } catch (const Error&) {
        // an unreadable file remembers nothing the picture could draw
    }
    return std::nullopt;
}

// A process object's bundle identifier and process id, read as a client would.
std::pair<std::string, std::int32_t> SessionWorld::describeProcess(AudioObjectID process) const {
    auto& audioServer = const_cast<SimulatedCoreAudio&>(audio);
    std::optional<CFValue> bundle;
    std::uint32_t size = kCFTypeRefSize;
    audioServer.AudioObjectGetPropertyData(
        process,
        {kAudioProcessPropertyBundleID, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain},
        size, bundle);
    std::uint32_t pid = 0;
    size = sizeof pid;
    audioServer.AudioObjectGetPropertyData(
        process, {kAudioProcessPropertyPID, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain},
        size, pid);
    return {bundle && bundle->text() ? *bundle->text() : std::string(), static_cast<std::int32_t>(pid)};
}

Json::Value SessionWorld::state() const {
    Json::Value::Array processes;
    for (AudioObjectID process : audio.processList()) {
        const auto [bundle, pid] = describeProcess(process);
        processes.push_back(Json::Value{{"object", process},
                                        {"pid", pid},
                                        {"bundleID", bundle},
                                        {"reachesOutput", audio.reachesOutput(process)}});
    }
    auto ownerOf = [this](AudioObjectID object) {
        auto found = owners_.find(object);
        return found == owners_.end() ? std::string("the session") : found->second;
    };
    Json::Value::Array taps;
    for (AudioObjectID tap : audio.tapIDs()) {
        const CATapDescription* description = audio.tapDescription(tap);
        taps.push_back(Json::Value{{"object", tap},
                                   {"name", description->name},
                                   {"muted", description->muteBehavior == CATapMuted},
                                   {"owner", ownerOf(tap)}});
    }
    Json::Value::Array aggregates;
    for (AudioObjectID device : audio.aggregateDeviceIDs()) {
        const CFDictionary* composition = audio.aggregateComposition(device);
        auto name = composition->find(kAudioAggregateDeviceNameKey);
        aggregates.push_back(
            Json::Value{{"object", device},
                        {"name", name != composition->end() && name->second.text() ? *name->second.text()
                                                                                   : std::string()},
                        {"owner", ownerOf(device)}});
    }
    Json::Value::Array previewStates;
    for (const auto& preview : previews()) {
        Json::Value entry{{"preview", preview.number},
                          {"file", preview.file},
                          {"playing", preview.playing},
                          {"soundStarted", preview.soundStarted},
                          {"controls", preview.controlsShown},
                          {"slider", preview.slider},
                          {"muted", preview.muted},
                          {"heard", preview.heard}};
        if (preview.remembered) entry["remembered"] = *preview.remembered;
        previewStates.push_back(entry);
    }
    return Json::Value{
        {"trusted", trusted()},
        {"slowFinder", slowFinder_},
        {"latency", Json::Value{{"accessibility", latency.accessibility}, {"coreAudio", latency.coreAudio}}},
        {"calls", Json::Value{{"accessibility", accessibilityCalls_}, {"coreAudio", coreAudioCalls_}}},
        {"processes", Json::Value(std::move(processes))},
        {"taps", Json::Value(std::move(taps))},
        {"aggregateDevices", Json::Value(std::move(aggregates))},
        {"previews", Json::Value(std::move(previewStates))}};
}

std::string SessionWorld::stateText() const {
    char latencyText[96];
    std::snprintf(latencyText, sizeof latencyText,
                  "%.2f ms per Accessibility call, %.2f ms per Core Audio call", latency.accessibility * 1000,
                  latency.coreAudio * 1000);
    std::string text = std::string("Accessibility: ") + (trusted() ? "trusted" : "not trusted") +
                       ". Finder: " + (slowFinder_ ? "slow" : "answering") + ". Latency: " + latencyText +
                       ".\n";
    text += "Processes:\n";
    if (audio.processList().empty()) text += "  none\n";
    for (AudioObjectID process : audio.processList()) {
        const auto [bundle, pid] = describeProcess(process);
        text += "  object " + std::to_string(process) + ": " + bundle + " (pid " + std::to_string(pid) + ")" +
                (audio.reachesOutput(process) ? "" : ", silenced by a tap") + "\n";
    }
    auto ownerOf = [this](AudioObjectID object) {
        auto found = owners_.find(object);
        return found == owners_.end() ? std::string("the session") : found->second;
    };
    // Whom a tap covers: the processes it lists, or every process of the bundles it names.
    auto coverageOf = [](const CATapDescription& description) {
        std::string covered;
        for (AudioObjectID process : description.processes)
            covered += ", for process object " + std::to_string(process);
        for (const std::string& bundle : description.bundleIDs) covered += ", for bundle " + bundle;
        return covered;
    };
    text += "Taps:\n";
    if (audio.tapIDs().empty()) text += "  none\n";
    for (AudioObjectID tap : audio.tapIDs()) {
        const CATapDescription* description = audio.tapDescription(tap);
        text += "  object " + std::to_string(tap) + ": " + description->name +
                (description->muteBehavior == CATapMuted ? ", muting" : "") + coverageOf(*description) +
                ", made by " + ownerOf(tap) + "\n";
    }
    text += "Aggregate devices:\n";
    if (audio.aggregateDeviceIDs().empty()) text += "  none\n";
    for (AudioObjectID device : audio.aggregateDeviceIDs()) {
        const CFDictionary* composition = audio.aggregateComposition(device);
        auto name = composition->find(kAudioAggregateDeviceNameKey);
        text += "  object " + std::to_string(device) + ": " +
                (name != composition->end() && name->second.text() ? *name->second.text()
                                                                   : std::string("unnamed")) +
                ", made by " + ownerOf(device) + "\n";
    }
    text += "Previews:\n";
    const auto open = previews();
    if (open.empty()) text += "  none\n";
    for (const auto& preview : open) {
        text += "  " + std::to_string(preview.number) + ": " + preview.file + ", " +
                (preview.playing ? (preview.soundStarted ? "playing" : "loading") : "paused") +
                (preview.controlsShown ? "" : ", controls hidden") + ", slider " + percent(preview.slider) +
                (preview.muted ? ", speaker muted" : "") + "; heard " + percent(preview.heard) + "\n";
    }
    return text;
}

}  // namespace tessaly
