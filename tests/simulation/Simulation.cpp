// A deterministic simulation of months of Quick Look browsing with faults: the real mute service on
// virtual time against the simulated Mac, every random decision from one seeded generator, and
// the user's invariants judged after every step from what the simulation hears and what is on disk.
// A failing run prints its seed and a shortened trace; `tessaly-simulation --seed N` replays it.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/FileSystem.h"
#include "service/MuteService.h"
#include "service/PreviewHold.h"
#include "service/StatusClient.h"
#include "simulated/SimulatedCoreAudio.h"
#include "simulated/SimulatedDesktop.h"
#include "simulated/SimulatedMessagePorts.h"
#include "simulated/SimulatedWorkspace.h"
#include "support/CapturingLog.h"
#include "support/TemporaryDirectory.h"
#include "support/VirtualRunLoop.h"

namespace tessaly::testing {
namespace {

namespace fs = std::filesystem;

constexpr ProcessID finder = 412;
constexpr ProcessID helperPID = 4242;
constexpr const char* quickLook = "com.apple.quicklook.QuickLookUIService";
constexpr double saveSettle = 0.15;
// Seconds within which the helper mends what a fault that ended left: its next poll.
constexpr double recoverySeconds = 2.5;
// launchd's throttle before it starts a helper that ended again.
constexpr double relaunchSeconds = 10;

struct ProcessExit {
    int status;
};

enum class Fault {
    axFailure,
    vanishing,
    slowFinder,
    quickLookVanish,
    audioRestart,
    trust,
    saveFailure,
    secondHelper
};
constexpr const char* faultNames[] = {"ax-failure",    "vanishing",     "slow-finder",  "quicklook-vanish",
                                      "audio-restart", "trust-revoked", "save-failure", "second-helper"};
constexpr int faultCount = 8;

enum class Kind {
    open,
    close,
    next,
    drag,
    speaker,
    pauseOrPlay,
    quickLookRestart,
    status,
    flush,
    relogin,
    wait,
    faultOn,
    faultOff
};
constexpr const char* kindNames[] = {
    "open",   "close", "next",  "drag", "speaker", "pause/play", "quicklook-restart",
    "status", "flush", "login", "wait", "fault+",  "fault-"};

// One step of the workload: it carries its own random numbers, so any subset of a trace replays.
struct Step {
    Kind kind;
    std::uint64_t value;
    double pause;  // seconds of virtual time after the step
};

std::string describe(const Step& step) {
    std::ostringstream text;
    text << kindNames[static_cast<int>(step.kind)];
    if (step.kind == Kind::faultOn || step.kind == Kind::faultOff)
        text << " " << faultNames[step.value % faultCount];
    text << " #" << step.value << " then " << step.pause << " s";
    return text.str();
}

struct Plan {
    std::uint64_t seed;
    unsigned faults;  // the fault kinds this run enables (swarm testing)
    std::vector<Step> steps;
};

// A user browsing Finder: bursts of hurried arrowing and slider drags between realistic pauses.
Plan makePlan(std::uint64_t seed, double hours) {
    std::mt19937_64 random(seed);
    Plan plan{seed, static_cast<unsigned>(random()) & ((1u << faultCount) - 1), {}};
    const double end = hours * 3600;
    for (double time = 0; time < end;) {
        const auto roll = random() % 100;
        Kind kind = roll < 18   ? Kind::open
                    : roll < 30 ? Kind::close
                    : roll < 45 ? Kind::next
                    : roll < 58 ? Kind::drag
                    : roll < 65 ? Kind::speaker
                    : roll < 70 ? Kind::pauseOrPlay
                    : roll < 72 ? Kind::quickLookRestart
                    : roll < 76 ? Kind::status
                    : roll < 78 ? Kind::flush
                    : roll < 79 ? Kind::relogin
                    : roll < 88 ? Kind::wait
                    : roll < 94 ? Kind::faultOn
                                : Kind::faultOff;
        const bool hurried = random() % 2 == 0;
        double pause = hurried ? (random() % 200) / 1000.0 : 0.2 + (random() % 8000) / 1000.0;
        if (kind == Kind::wait) pause = 30 + random() % 1800;
        plan.steps.push_back({kind, random(), pause});
        time += pause;
    }
    return plan;
}

// What the simulation found wrong, with the step it followed.
struct Violation {
    std::string invariant;
    std::size_t step;
    std::string message;
};

// Invariants left unchecked in this run (--skip), to look past a known fault for others.
std::vector<std::string> skipped;

// A preview the user has open, as the user knows it.
struct OpenPreview {
    SimulatedPreview preview;
    bool exposed;  // its controls are shown
    double shownAt;
    // The loudest level it may play at: the choice when it was shown or last heard in step with
    // it, or the user's own level for it. A change in one preview is not put into the others
    // already in step.
    double entitled = -1;
};

struct Figures {
    std::size_t steps = 0;
    std::size_t faults = 0;
    double seconds = 0;
};

class Simulation {
public:
    Simulation(const Plan& plan, const std::vector<bool>& kept) : plan_(plan), kept_(kept) {
        desktop_.launchApplication("com.apple.finder", finder);
        quickLookProcess_ = audio_.addProcess(quickLook, quickLookPID_);
        audio_.setPlaying(quickLookProcess_, true);
    }
    ~Simulation() {
        if (service_) guardedly([&] { service_->stop(); });
    }

    std::optional<Violation> run(Figures& figures) {
        login();
        check(0);
        for (std::size_t index = 0; index < plan_.steps.size() && !violation_; ++index) {
            if (!kept_[index]) continue;
            const Step& step = plan_.steps[index];
            if (std::getenv("TESSALY_SIMULATION_VERBOSE"))
                std::cerr << index << ": " << describe(step) << "\n";
            apply(step, figures);
            advance(0);
            if (std::getenv("TESSALY_SIMULATION_VERBOSE")) trace();
            check(index);
            if (violation_) break;
            advance(step.pause);
            // Settled: a second has passed since the step and since the helper started.
            check(index, step.pause >= 1 && runLoop_.now() - startedAt_ >= 1);
            ++figures.steps;
        }
        if (!violation_ && service_) {
            guardedly([&] { service_->stop(); });
            service_.reset();
            if (!audio_.tapIDs().empty()) fail(plan_.steps.size(), "guard", "a tap is left after the stop");
        }
        figures.seconds += runLoop_.now();
        return violation_;
    }

private:
    bool active(Fault fault) const { return (activeFaults_ & (1u << static_cast<int>(fault))) != 0; }
    bool anyFault() const { return activeFaults_ != 0 || !desktop_.isProcessTrusted(); }

    template <typename Action>
    void guardedly(Action action) {
        try {
            action();
        } catch (const ProcessExit&) {
            exited();
        }
    }

    // The service ended the process: launchd starts the helper again a little later.
    void exited() {
        service_.reset();
        exitedAt_ = runLoop_.now();
        if (!audio_.tapIDs().empty() || !audio_.aggregateDeviceIDs().empty())
            fail(currentStep_, "guard", "a tap or aggregate device is left after the helper exited");
    }

    // The pause after a step; launchd starts a helper that ended again 10 s later, within it.
    void advance(double seconds) {
        const double end = runLoop_.now() + seconds;
        guardedly([&] { runLoop_.runUntilIdle(); });
        while (!service_ && exitedAt_ && *exitedAt_ + relaunchSeconds <= end) {
            const double relaunch = *exitedAt_ + relaunchSeconds;
            guardedly([&] { runLoop_.advance(std::max(0.0, relaunch - runLoop_.now())); });
            login();
            guardedly([&] { runLoop_.runUntilIdle(); });
        }
        if (end > runLoop_.now()) guardedly([&] { runLoop_.advance(end - runLoop_.now()); });
    }

    // A helper process of `pid` on the simulated Mac; ending the process throws ProcessExit.
    std::unique_ptr<MuteService> helper(ProcessID pid) {
        MuteServicePlatform platform{audio_,
                                     desktop_,
                                     workspace_,
                                     runLoop_,
                                     ports_,
                                     log_,
                                     [pid] { return pid; },
                                     [](int status) { throw ProcessExit{status}; }};
        return std::make_unique<MuteService>(platform, store_, [] { return std::vector<ProcessID>{finder}; });
    }

    void login() {
        exitedAt_.reset();
        startedAt_ = runLoop_.now();
        service_ = helper(helperPID);
        try {
            service_->start();
        } catch (const ProcessExit&) {
            exited();
        } catch (const std::exception&) {
            // A start that cannot finish leaves nothing running; launchd tries again.
            service_.reset();
            exitedAt_ = runLoop_.now();
        }
    }

    void apply(const Step& step, Figures& figures) {
        currentStep_ = &step - plan_.steps.data();
        std::mt19937_64 random(step.value);
        const auto pick = [&](std::size_t count) { return static_cast<std::size_t>(random() % count); };
        switch (step.kind) {
            case Kind::open: {
                if (previews_.size() >= 4) break;
                SimulatedPreview::Setup setup;
                setup.controlsExposed = pick(3) != 0;
                setup.title = "Clip " + std::to_string(step.value % 1000) + ".mov";
                setup.document = "file:///Users/tess/Movies/" + *setup.title;
                setup.titleTexts = {*setup.title};
                previews_.push_back(
                    {desktop_.openPreview(finder, setup), setup.controlsExposed, runLoop_.now()});
                break;
            }
            case Kind::close:
                if (previews_.empty()) break;
                {
                    const auto which = previews_.begin() + pick(previews_.size());
                    desktop_.closeWindow(which->preview.window);
                    previews_.erase(which);
                }
                break;
            case Kind::next:
                if (previews_.empty()) break;
                {
                    // Each step shows a file of its own: the arrow keys never show the file already shown.
                    const auto title = "Next " + std::to_string(currentStep_) + ".mov";
                    auto& shown = previews_[pick(previews_.size())];
                    shown.shownAt = runLoop_.now();
                    shown.entitled = -1;
                    desktop_.changeDocument(shown.preview, "file:///Users/tess/Movies/" + title, title);
                }
                break;
            case Kind::drag:
            case Kind::speaker: {
                if (previews_.empty()) break;
                const auto which = pick(previews_.size());
                auto& [preview, exposed, shownAt, entitled] = previews_[which];
                if (!exposed) break;
                const double before = desktop_.outputLevel(preview);
                if (step.kind == Kind::speaker) {
                    desktop_.userPressesSpeaker(preview);
                } else {
                    // The edges and a hair's breadth from the last choice are the levels that catch slips.
                    const double levels[] = {0.0, 1.0, 0.25, 0.5, 0.8};
                    double level = levels[pick(5)];
                    if (pick(4) == 0) level = std::min(1.0, desktop_.playerLevel(preview) + 5e-6);
                    desktop_.userMovesVolume(preview, level);
                }
                // A drag that ends where the slider stood changes nothing.
                if (desktop_.outputLevel(preview) == before) break;
                userActedAt_ = runLoop_.now();
                acted_ = which;
                entitled = desktop_.outputLevel(preview);
                break;
            }
            case Kind::pauseOrPlay:
                if (previews_.empty()) break;
                {
                    auto& played = previews_[pick(previews_.size())];
                    if (played.exposed)
                        desktop_.hideControls(played.preview);
                    else
                        desktop_.exposeControls(played.preview);
                    played.exposed = !played.exposed;
                }
                break;
            case Kind::quickLookRestart:
                audio_.removeProcess(quickLookProcess_);
                quickLookProcess_ = audio_.addProcess(quickLook, ++quickLookPID_);
                audio_.setPlaying(quickLookProcess_, true);
                break;
            case Kind::status:
                // A fault that has just ended is mended by the next poll, not before.
                if (service_ && !anyFault() && runLoop_.now() - faultEndedAt_ > recoverySeconds) {
                    try {
                        StatusClient::read(ports_).validate();
                    } catch (const std::exception& error) {
                        fail(currentStep_, "status",
                             std::string("the status does not validate: ") + error.what());
                    }
                }
                break;
            case Kind::flush:
                guardedly([&] {
                    try {
                        StatusClient::flushIfRunning(ports_);
                    } catch (const std::exception&) {
                        // A failing save is reported to the client; the file is judged below.
                    }
                });
                if (!active(Fault::saveFailure)) staleFile_ = false;
                break;
            case Kind::relogin:
                if (service_) guardedly([&] { service_->stop(); });
                service_.reset();
                if (!audio_.tapIDs().empty()) fail(currentStep_, "guard", "a tap is left after the stop");
                login();
                break;
            case Kind::wait:
                break;
            case Kind::faultOn:
            case Kind::faultOff: {
                const int kind = static_cast<int>(step.value % faultCount);
                if ((plan_.faults & (1u << kind)) == 0) break;
                setFault(static_cast<Fault>(kind), step.kind == Kind::faultOn, random);
                if (step.kind == Kind::faultOn) ++figures.faults;
                break;
            }
        }
        // A change the helper will save makes the file fresh again; a drag that changed nothing does not.
        if ((step.kind == Kind::drag || step.kind == Kind::speaker) && userActedAt_ == runLoop_.now() &&
            !active(Fault::saveFailure))
            staleFile_ = false;
    }

    void setFault(Fault fault, bool on, std::mt19937_64& random) {
        const unsigned bit = 1u << static_cast<int>(fault);
        const bool wasOn = (activeFaults_ & bit) != 0;
        switch (fault) {
            case Fault::axFailure:
                desktop_.failCall(
                    SimulatedDesktop::Call::setAttributeValue,
                    on ? (random() % 2 ? kAXErrorCannotComplete : kAXErrorFailure) : kAXErrorSuccess);
                break;
            case Fault::vanishing:
                // A window's elements die mid-pass: the user closed it between two calls.
                if (on && !previews_.empty()) {
                    const auto& preview = previews_[random() % previews_.size()].preview;
                    desktop_.onRead(preview.volume, "AXValue", [this, window = preview.window] {
                        desktop_.vanishWindow(window);
                        vanished_.push_back(window);
                        runLoop_.postAfter(0.01, [this, window] { closeVanished(window); });
                    });
                }
                on = false;
                break;
            case Fault::slowFinder:
                desktop_.makeSlow(finder, on);
                break;
            case Fault::quickLookVanish:
                // The process goes between the guard's look at the process list and its tap.
                if (on) {
                    audio_.afterNext(CoreAudioCall::getPropertyData, [this] {
                        audio_.removeProcess(quickLookProcess_);
                        quickLookProcess_ = audio_.addProcess(quickLook, ++quickLookPID_);
                        audio_.setPlaying(quickLookProcess_, true);
                    });
                }
                on = false;
                break;
            case Fault::audioRestart:
                if (on) audio_.restartService();
                on = false;
                break;
            case Fault::trust:
                if (on)
                    desktop_.revokeTrust();
                else
                    desktop_.grantTrust();
                break;
            case Fault::saveFailure:
                if (on && !wasOn) {
                    // A link, or a folder, takes the file's place.
                    std::error_code ignored;
                    savedBytes_ = readAll(store_.path());
                    fs::remove(store_.path(), ignored);
                    if (random() % 2)
                        fs::create_symlink(home_.path() + "/elsewhere.json", store_.path(), ignored);
                    else
                        fs::create_directory(store_.path(), ignored);
                    staleFile_ = true;
                } else if (!on && wasOn) {
                    // A save may have replaced the link with the file itself: then it stays.
                    std::error_code ignored;
                    if (fs::is_symlink(store_.path()) || fs::is_directory(store_.path())) {
                        fs::remove_all(store_.path(), ignored);
                        if (savedBytes_) FileSystem::writeAtomically(store_.path(), *savedBytes_, 0600);
                    }
                }
                break;
            case Fault::secondHelper: {
                if (!on) break;
                // A second helper refuses to start while this one serves the port, and writes nothing.
                const auto before = readAll(store_.path());
                const auto second = helper(helperPID + 1);
                try {
                    second->start();
                    if (service_)
                        fail(currentStep_, "second-helper", "a second helper started beside the first");
                    second->stop();
                } catch (const std::exception&) {
                } catch (const ProcessExit&) {
                }
                if (service_ && readAll(store_.path()) != before)
                    fail(currentStep_, "second-helper", "a second helper wrote the file");
                on = false;
                break;
            }
        }
        if (wasOn && !on) faultEndedAt_ = runLoop_.now();
        activeFaults_ = on ? (activeFaults_ | bit) : (activeFaults_ & ~bit);
    }

    // The window whose elements died is then closed for good, as the user's close completes.
    void closeVanished(const AXUIElement& window) {
        std::erase(vanished_, window);
        if (std::erase_if(previews_, [&](const OpenPreview& open) { return open.preview.window == window; }))
            desktop_.closeWindow(window);
    }

    // The file's bytes; none when it is missing or not a regular file.
    static std::optional<std::string> readAll(const std::string& path) {
        try {
            return FileSystem::readBounded(path, 1 << 20);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    void fail(std::size_t step, const std::string& invariant, const std::string& message) {
        if (std::find(skipped.begin(), skipped.end(), invariant) != skipped.end()) return;
        if (!violation_) violation_ = Violation{invariant, step, message};
    }

    // The world after a step, for a reader of a verbose run.
    void trace() const {
        std::cerr << "   t=" << runLoop_.now();
        if (service_)
            std::cerr << " choice " << text(service_->preference())
                      << (service_->guardEngaged() ? " guard" : "")
                      << (service_->previewError() ? " error: " + *service_->previewError() : "");
        for (const auto& open : previews_)
            std::cerr << " |" << (open.exposed ? "" : " hidden") << " shows "
                      << desktop_.outputLevel(open.preview) << " heard " << heard(open.preview);
        std::cerr << "\n";
    }

    // What the user hears from a preview: its player's output, unless a tap silences Quick Look.
    bool vanished(const SimulatedPreview& preview) const {
        return std::find(vanished_.begin(), vanished_.end(), preview.window) != vanished_.end();
    }
    // A window whose elements died is closing: its player has stopped.
    double heard(const SimulatedPreview& preview) const {
        if (vanished(preview)) return 0.0;
        return audio_.reachesOutput(quickLookProcess_) ? desktop_.outputLevel(preview) : 0.0;
    }

    void check(std::size_t step, bool settled = false) {
        const bool canWork = service_ && !anyFault();
        // The file: always a valid choice, and the adopted one once a burst has settled.
        // A choice found late (once trust returns) is saved after the same delay from then.
        if (service_ && !(service_->preference() == adopted_)) {
            adopted_ = service_->preference();
            adoptedAt_ = runLoop_.now();
        }
        if (!active(Fault::saveFailure) && fs::exists(store_.path())) {
            try {
                const auto stored = store_.load();
                if (canWork && !staleFile_ &&
                    runLoop_.now() - std::max(userActedAt_, adoptedAt_) > saveSettle &&
                    !(stored == service_->preference()))
                    fail(step, "file",
                         "audio.json holds " + text(stored) + " but the helper adopted " +
                             text(service_->preference()));
            } catch (const std::exception& error) {
                fail(step, "file", std::string("audio.json is not a valid choice: ") + error.what());
            }
        }
        if (!service_) return;
        const AudioPreference& choice = service_->preference();
        // The guard: taps exactly while it is engaged; no aggregate device without its tap.
        const auto taps = audio_.tapIDs().size();
        const auto devices = audio_.aggregateDeviceIDs().size();
        if (service_->guardEngaged() != (taps > 0) && !active(Fault::audioRestart))
            fail(step, "guard",
                 "the guard is " + std::string(service_->guardEngaged() ? "engaged" : "released") + " with " +
                     std::to_string(taps) + " taps");
        if (devices > taps) fail(step, "guard", "an aggregate device has no tap");
        // Only a lasting failure that the status reports may release the guard: Accessibility not
        // trusted, a player that does not look as expected, or a moment's failure that went on
        // past its limit; a moment's failure of the system must not.
        const bool reported = !desktop_.isProcessTrusted() || service_->previewError().has_value();
        // At an audible choice the guard holds Quick Look silent while a new preview is restored:
        // quieter than the choice, for a bounded while.
        const bool held = service_->guardEngaged() && !choice.isMuted();
        for (std::size_t index = 0; index < previews_.size(); ++index) {
            auto& [preview, exposed, shownAt, entitled] = previews_[index];
            const double level = heard(preview);
            const std::string which = "preview " + std::to_string(index) +
                                      (exposed ? "" : " (controls hidden)") + " shown " +
                                      std::to_string(runLoop_.now() - shownAt) + " s ago";
            if (choice.volume() == 0 && level > 0 && !reported)
                fail(step, "heard",
                     which + " is heard at " + std::to_string(level) + " while the choice is mute");
            // A player that keeps its controls hidden past the hold's limit plays at its own level.
            const bool givenUp = !exposed && runLoop_.now() - shownAt >= PreviewHold::limit;
            const double allowed = givenUp ? 1.0 : std::max(entitled, choice.volume());
            if (canWork && !reported && level > allowed + 1e-9)
                fail(step, "heard",
                     which + " is heard at " + std::to_string(level) + " above the choice " + text(choice));
            // The controls tell the truth: what the player shows is what is heard.
            const bool inStep = std::abs(entitled - choice.volume()) <= 1e-9;
            const double shown = desktop_.outputLevel(preview);
            if (canWork && settled && inStep && exposed && !(held && level == 0) &&
                std::abs(shown - level) > 1e-9)
                fail(step, "controls",
                     which + " shows " + std::to_string(shown) + " but " + std::to_string(level) +
                         " is heard");
            // A preview that shows the choice is in step with it, whenever a pass put it there (also
            // while the guard held it silent).
            if (entitled < 0 || std::abs(shown - choice.volume()) <= 1e-9) entitled = choice.volume();
        }
        // The user's last change is the adopted choice, to the last hair.
        // A change made while a fault held the helper off is found at its next poll, not at once.
        if (canWork && userActedAt_ == runLoop_.now() && runLoop_.now() - faultEndedAt_ > recoverySeconds &&
            step < plan_.steps.size()) {
            const Step& last = plan_.steps[step];
            if (last.kind == Kind::drag || last.kind == Kind::speaker) {
                // A window that closed as the helper read it takes the change with it.
                const auto* changed = acted_ < previews_.size() ? &previews_[acted_].preview : nullptr;
                if (changed && !(held && heard(*changed) == 0) && !vanished(*changed) &&
                    std::abs(heard(*changed) - choice.volume()) > 1e-9)
                    fail(step, "user-change",
                         "the user's change was not adopted: heard " + std::to_string(heard(*changed)) +
                             ", remembered " + text(choice));
            }
        }
        // What the helper holds is bounded by what is open.
        const std::size_t open = previews_.size();
        if (desktop_.liveObserverCount() > open + 2)
            fail(step, "bounded",
                 std::to_string(desktop_.liveObserverCount()) + " observers for " + std::to_string(open) +
                     " previews");
        // Follow-up passes and queued notifications drain within a second; only timers may stay.
        if (settled && runLoop_.pendingCount() > 4 + 2 * open)
            fail(step, "bounded", std::to_string(runLoop_.pendingCount()) + " pending tasks");
    }

    static std::string text(const AudioPreference& choice) {
        return "(" + std::to_string(choice.volume()) + ", " + std::to_string(choice.unmutedVolume()) + ")";
    }

    const Plan& plan_;
    const std::vector<bool>& kept_;
    VirtualRunLoop runLoop_;
    CapturingLog log_;
    SimulatedDesktop desktop_{runLoop_};
    SimulatedWorkspace workspace_{desktop_};
    SimulatedCoreAudio audio_;
    SimulatedMessagePorts ports_;
    TemporaryDirectory home_;
    PreferenceStore store_ = PreferenceStore::forHome(home_.path());
    std::unique_ptr<MuteService> service_;
    std::vector<OpenPreview> previews_;
    std::vector<AXUIElement> vanished_;
    AudioObjectID quickLookProcess_ = 0;
    std::int32_t quickLookPID_ = 900;
    unsigned activeFaults_ = 0;
    bool staleFile_ = false;
    double userActedAt_ = -1;
    double faultEndedAt_ = -1;
    AudioPreference adopted_ = AudioPreference::defaultPreference();
    double adoptedAt_ = -1;
    std::optional<double> exitedAt_;
    double startedAt_ = 0;
    std::optional<std::string> savedBytes_;
    std::size_t currentStep_ = 0;
    std::size_t acted_ = 0;
    std::optional<Violation> violation_;
};

std::optional<Violation> replay(const Plan& plan, const std::vector<bool>& kept, Figures& figures) {
    Simulation simulation(plan, kept);
    return simulation.run(figures);
}

// Delta debugging over the steps: drop chunks while the same invariant still fails.
std::vector<bool> shrink(const Plan& plan, const Violation& found) {
    std::vector<bool> kept(plan.steps.size(), false);
    for (std::size_t index = 0; index <= found.step && index < kept.size(); ++index) kept[index] = true;
    Figures ignored;
    for (std::size_t chunk = std::max<std::size_t>(1, (found.step + 1) / 2); chunk >= 1; chunk /= 2) {
        for (std::size_t start = 0; start < kept.size(); start += chunk) {
            auto trial = kept;
            bool changed = false;
            for (std::size_t index = start; index < std::min(kept.size(), start + chunk); ++index)
                if (trial[index]) trial[index] = false, changed = true;
            if (!changed) continue;
            const auto again = replay(plan, trial, ignored);
            if (again && again->invariant == found.invariant) kept = trial;
        }
        if (chunk == 1) break;
    }
    return kept;
}

void report(const Plan& plan, const Violation& found, bool shorten) {
    std::cout << "FAILED seed " << plan.seed << ": " << found.invariant << " after step " << found.step
              << ": " << found.message << "\n  faults enabled:";
    for (int kind = 0; kind < faultCount; ++kind)
        if (plan.faults & (1u << kind)) std::cout << " " << faultNames[kind];
    if (!shorten) {
        std::cout << "\n";
        return;
    }
    const auto kept = shrink(plan, found);
    Figures ignored;
    const auto again = replay(plan, kept, ignored);
    std::cout << "\n  shortened trace (--seed " << plan.seed << " --steps ";
    for (std::size_t index = 0, count = 0; index < kept.size(); ++index)
        if (kept[index]) std::cout << (count++ ? "," : "") << index;
    std::cout << "): " << again->message << "\n";
    for (std::size_t index = 0; index < kept.size(); ++index)
        if (kept[index]) std::cout << "    " << index << ": " << describe(plan.steps[index]) << "\n";
}

int main(int argc, char** argv) {
    std::optional<std::uint64_t> seed;
    std::uint64_t seeds = 20;
    std::uint64_t first = 1;
    double hours = 2;
    std::optional<std::vector<bool>> only;
    bool shorten = true;
    for (int index = 1; index + 1 < argc; index += 2) {
        const std::string option = argv[index];
        const char* value = argv[index + 1];
        if (option == "--seed")
            seed = std::stoull(value);
        else if (option == "--seeds")
            seeds = std::stoull(value);
        else if (option == "--first")
            first = std::stoull(value);
        else if (option == "--hours")
            hours = std::stod(value);
        else if (option == "--skip") {
            std::istringstream list(value);
            for (std::string item; std::getline(list, item, ',');) skipped.push_back(item);
        } else if (option == "--shrink")
            shorten = std::string(value) != "no";
        else if (option == "--steps") {
            // Replays only these steps of the seed's plan, as a shortened trace names them.
            only.emplace();
            std::istringstream list(value);
            for (std::string item; std::getline(list, item, ',');) {
                const auto step = std::stoull(item);
                if (only->size() <= step) only->resize(step + 1, false);
                (*only)[step] = true;
            }
        } else {
            std::cerr
                << "usage: tessaly-simulation [--seed N [--steps I,J,...] | --seeds N [--first N]] [--hours H]"
                   " [--shrink no] [--skip heard,file,...]\n";
            return 2;
        }
    }
    const auto began = std::chrono::steady_clock::now();
    Figures figures;
    std::size_t failed = 0;
    const std::uint64_t count = seed ? 1 : seeds;
    for (std::uint64_t index = 0; index < count; ++index) {
        const Plan plan = makePlan(seed ? *seed : first + index, hours);
        std::vector<bool> kept(plan.steps.size(), !only);
        for (std::size_t step = 0; only && step < only->size() && step < kept.size(); ++step)
            kept[step] = (*only)[step];
        if (const auto found = replay(plan, kept, figures)) {
            ++failed;
            report(plan, *found, shorten && !only);
        }
    }
    const double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::cout << count << " seeds, " << failed << " failed; " << figures.seconds / 3600
              << " simulated hours, " << figures.steps << " steps, " << figures.faults << " faults injected, "
              << real << " s real\n";
    return failed == 0 ? 0 : 1;
}

}  // namespace
}  // namespace tessaly::testing

int main(int argc, char** argv) {
    return tessaly::testing::main(argc, argv);
}
