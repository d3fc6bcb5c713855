#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Json.h"
#include "ports/RunLoop.h"
#include "simulated/SimulatedCoreAudio.h"
#include "simulated/SimulatedDesktop.h"
#include "simulated/SimulatedWorkspace.h"

namespace tessaly {

/// What each port call costs in the session, in seconds. The defaults resemble a Mac: an
/// Accessibility call crosses into Finder, a Core Audio call into the audio server.
struct SessionLatency {
    double accessibility = 0.0003;
    double coreAudio = 0.0001;
};

/// One change of what the speakers play for a preview: from `time` (seconds since the session
/// started) on, the preview sounds at `level` (0 to 1).
struct HeardSample {
    double time = 0;
    int preview = 0;
    double level = 0;
    /// The player started to play its file here: its first sound, heard at `level`.
    bool firstSound = false;
};

/// A change of the level the helper's file remembers: from `time` (seconds since the session
/// started) on, it holds `level`; nothing while the file cannot be read.
struct RememberedSample {
    double time = 0;
    std::optional<double> level;
};

/// The rest of macOS for the real executables: the audio server, Finder with a few ordinary
/// windows, the Quick Look UI service with its previews, Accessibility trust and the running
/// applications, plus what the user hears from each preview over time. All of it lives on one run
/// loop; the verbs below are what the user does.
class SessionWorld {
public:
    static constexpr ProcessID finderPID = 301;
    static constexpr char finderBundleID[] = "com.apple.finder";
    /// How many ordinary Finder windows the session starts with, and the rows of each file list.
    static constexpr int finderWindowCount = 3;
    static constexpr int finderRowCount = 60;
    /// The system-wide Accessibility messaging timeout when no client set one, in seconds.
    /// Seconds a player takes to load its file before it plays, by default: a short clip on a
    /// local disk.
    static constexpr double defaultMediaLoadDelay = 0.08;

    /// How a preview opens.
    struct PreviewOptions {
        std::string file = "Harbour.mov";
        bool playing = true;
        /// Seconds until the player shows its controls; nothing: at once.
        std::optional<double> controlsAfter;
    };

    /// One open preview, as the user sees and hears it.
    struct PreviewState {
        int number = 0;
        std::string file;
        bool playing = false;
        bool controlsShown = false;
        /// Whether the player has played its file yet (it loads first).
        bool soundStarted = false;
        double slider = 0;  // what the slider shows (0 while muted)
        bool muted = false;
        double heard = 0;
        /// The level the helper remembered when the preview opened, if its file could be read.
        std::optional<double> remembered;
    };

    SessionWorld(RunLoop& runLoop, std::string home);
    SessionWorld(const SessionWorld&) = delete;
    SessionWorld& operator=(const SessionWorld&) = delete;

    SimulatedCoreAudio audio;
    SimulatedDesktop desktop;
    SimulatedWorkspace workspace;
    SessionLatency latency;
    /// Seconds from a preview showing a file to the player playing it.
    double mediaLoadDelay = defaultMediaLoadDelay;

    // The user's verbs. Those naming a preview throw TessalyError for one that is not open.
    void launchQuickLook();
    void quitQuickLook();
    bool quickLookRunning() const { return quickLook_.has_value(); }
    int openPreview(const PreviewOptions& options);
    /// The arrow keys in an open preview: its window shows `file` instead, as a new preview (the
    /// one returned); the player loads the file and plays it as the last one played.
    int showNextFile(int preview, const std::string& file);
    void showControls(int preview);
    void pressSpeaker(int preview);
    void setSlider(int preview, double level);
    void setPlaying(int preview, bool playing);
    void closePreview(int preview);
    void setTrusted(bool trusted);
    bool trusted() const { return desktop.isProcessTrusted(); }
    void restartAudioServer();
    void setSlowFinder(bool slow);
    bool slowFinder() const { return slowFinder_; }

    /// Seconds an Accessibility call on `element` takes before it fails while Finder is slow: the
    /// messaging timeout set on that object, else the one given to Finder's application objects, else
    /// the system default.
    double slowFinderDelay(const AXUIElement& element) const;

    /// Records who made an audio object (a tap or aggregate device), for the state.
    void setOwner(AudioObjectID object, std::string owner) { owners_[object] = std::move(owner); }
    /// Books one call of `cost` seconds on the Accessibility side (Finder) or the Core Audio side (the
    /// audio server), each answering one call at a time; returns the seconds from now until it is done.
    double book(bool accessibility, double cost);
    /// Counts one port call that reached the session.
    void countCall(bool accessibility) { ++(accessibility ? accessibilityCalls_ : coreAudioCalls_); }
    /// Accessibility calls that reached the session so far.
    std::uint64_t accessibilityCalls() const { return accessibilityCalls_; }

    /// Samples what every preview sounds like now and appends the changes to the timeline; runs
    /// the watchers. Called after anything that can change it.
    void noteChanges();
    /// Calls `watcher` after every change until it answers true.
    void watch(std::function<bool()> watcher) { watchers_.push_back(std::move(watcher)); }

    /// The open previews, in the order they opened.
    std::vector<PreviewState> previews() const;
    std::optional<PreviewState> preview(int number) const;
    const std::vector<HeardSample>& timeline() const { return timeline_; }
    /// Reads the level the helper's file remembers and notes it when it changed; the session does
    /// so often enough to see each save.
    void noteRemembered();
    const std::vector<RememberedSample>& rememberedTimeline() const { return remembered_; }
    /// Seconds since the session started.
    double now() const { return runLoop_.now() - started_; }
    /// One preview from its opening to its closing.
    struct PreviewLife {
        std::string file;
        double opened = 0;
        std::optional<double> closed;
        /// When the player first played the file.
        std::optional<double> soundStarted;
        /// The level the helper's file remembered when the preview opened, if it could be read.
        std::optional<double> remembered;
    };
    /// Every preview ever opened, by number.
    const std::map<int, PreviewLife>& lives() const { return lives_; }

    /// The whole state as `state --json` prints it.
    Json::Value state() const;
    /// The whole state as `state` prints it, one item a line.
    std::string stateText() const;

private:
    struct OpenPreview {
        SimulatedPreview handles;
        std::string file;
        bool playing = false;
        bool controlsShown = false;
        /// Whether the player has loaded the file it shows.
        bool loaded = false;
    };

    void openFinderWindows();
    /// The player of `preview` plays its file once it has loaded it.
    void loadMedia(int preview);
    OpenPreview& open(int preview);
    double heardLevel(const OpenPreview& preview) const;
    std::optional<double> readRemembered() const;
    std::pair<std::string, std::int32_t> describeProcess(AudioObjectID process) const;

    RunLoop& runLoop_;
    const std::string home_;
    const double started_;
    std::optional<AudioObjectID> quickLook_;
    ProcessID quickLookPID_ = 0;
    ProcessID nextPID_ = 512;
    bool slowFinder_ = false;
    int nextPreview_ = 1;
    std::map<int, OpenPreview> previews_;
    std::map<int, double> lastHeard_;
    std::map<int, PreviewLife> lives_;
    std::vector<HeardSample> timeline_;
    std::vector<RememberedSample> remembered_;
    std::vector<std::function<bool()>> watchers_;
    std::map<AudioObjectID, std::string> owners_;
    double accessibilityBusyUntil_ = 0;
    double coreAudioBusyUntil_ = 0;
    std::uint64_t accessibilityCalls_ = 0;
    std::uint64_t coreAudioCalls_ = 0;
};

}  // namespace tessaly
