#include "SessionCommands.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "HeardLevelsPicture.h"
#include "LevelText.h"
#include "foundation/Error.h"
#include "foundation/TessalyError.h"

namespace tessaly {

namespace {

// How long a command waits for a level by default, in seconds.
constexpr double defaultWait = 10.0;

double number(const std::string& word, const char* what) {
    try {
        std::size_t used = 0;
        const double value = std::stod(word, &used);
        if (used == word.size() && std::isfinite(value)) return value;
    } catch (const std::exception&) {
    }
    throw TessalyError(std::string("“") + word + "” is not " + what + ".");
}

int previewNumber(const std::vector<std::string>& words, std::size_t index) {
    if (words.size() <= index) throw TessalyError("Name the preview by its number (see `state`).");
    const double value = number(words[index], "a preview number");
    if (value != std::floor(value) || value < 1 || value > 1e9)
        throw TessalyError("A preview number is a whole number.");
    return static_cast<int>(value);
}

bool sameLevel(double a, double b) {
    return std::fabs(a - b) <= 1e-6;
}

std::string milliseconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000);
    return text;
}

void expectCount(const std::vector<std::string>& words, std::size_t count) {
    if (words.size() != count)
        throw TessalyError("“" + words[0] + "” takes " + std::to_string(count - 1) + " word(s); see `help`.");
}

}  // namespace

SessionCommands::SessionCommands(SessionWorld& world, RunLoop& runLoop, std::function<void()> stop)
    : world_(world), runLoop_(runLoop), stop_(std::move(stop)) {}

const char* SessionCommands::usage() {
    return "Usage: tessaly-session run [--accessibility-latency MS] [--core-audio-latency MS] [--media-load-delay MS]\n"
           "       tessaly-session COMMAND, acting as the user in the running session:\n"
           "  state [--json]               processes, taps, aggregate devices, previews and what they sound like\n"
           "  launch-quicklook | quit-quicklook\n"
           "  open FILE [--paused] [--controls-after SECONDS] [--expect LEVEL] [--within SECONDS]\n"
           "                               a preview, playing unless paused, reported at its first sound; --expect\n"
           "                               waits until it is heard at LEVEL and its slider shows it\n"
           "  arrow N FILE [--expect LEVEL] [--within SECONDS]\n"
           "                               the arrow keys in preview N: its window shows FILE, a new preview\n"
           "  show-controls N | speaker N | slider N LEVEL | play N | pause N | close N\n"
           "  wait-heard N LEVEL [--within SECONDS]\n"
           "  trust grant|revoke | restart-audio | slow-finder on|off\n"
           "  latency ACCESSIBILITY_MS CORE_AUDIO_MS | media-load-delay MS\n"
           "  timeline | picture FILE.png | quit\n";
}

void SessionCommands::run(const std::vector<std::string>& words, Done done) {
    try {
        if (words.empty() || words[0] == "help") return done(0, usage());
        const std::string& verb = words[0];
        if (verb == "state") {
            if (words.size() == 2 && words[1] == "--json")
                return done(0, Json::writePretty(world_.state()) + "\n");
            expectCount(words, 1);
            return done(0, world_.stateText());
        }
        if (verb == "open" || verb == "arrow") return open(words, done);
        if (verb == "launch-quicklook" || verb == "quit-quicklook") {
            expectCount(words, 1);
            verb == "launch-quicklook" ? world_.launchQuickLook() : world_.quitQuickLook();
            return done(0, "");
        }
        if (verb == "show-controls" || verb == "speaker" || verb == "play" || verb == "pause" ||
            verb == "close") {
            expectCount(words, 2);
            const int preview = previewNumber(words, 1);
            if (verb == "show-controls") world_.showControls(preview);
            if (verb == "speaker") world_.pressSpeaker(preview);
            if (verb == "play" || verb == "pause") world_.setPlaying(preview, verb == "play");
            if (verb == "close") world_.closePreview(preview);
            return done(0, "");
        }
        if (verb == "slider") {
            expectCount(words, 3);
            world_.setSlider(previewNumber(words, 1), number(words[2], "a level from 0 to 1"));
            return done(0, "");
        }
        if (verb == "wait-heard") {
            if (words.size() != 3 && !(words.size() == 5 && words[3] == "--within"))
                throw TessalyError("Usage: wait-heard N LEVEL [--within SECONDS]");
            const int preview = previewNumber(words, 1);
            const double within = words.size() == 5 ? number(words[4], "a number of seconds") : defaultWait;
            return waitHeard(preview, number(words[2], "a level"), within, world_.now(),
                             world_.accessibilityCalls(), "", done);
        }
        if (verb == "trust" && words.size() == 2 && (words[1] == "grant" || words[1] == "revoke")) {
            world_.setTrusted(words[1] == "grant");
            return done(0, "");
        }
        if (verb == "slow-finder" && words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
            world_.setSlowFinder(words[1] == "on");
            return done(0, "");
        }
        if (verb == "restart-audio") {
            expectCount(words, 1);
            world_.restartAudioServer();
            return done(0, "");
        }
        if (verb == "latency") {
            expectCount(words, 3);
            const double accessibility = number(words[1], "a number of milliseconds");
            const double coreAudio = number(words[2], "a number of milliseconds");
            if (accessibility < 0 || coreAudio < 0) throw TessalyError("A latency is not negative.");
            world_.latency = {accessibility / 1000, coreAudio / 1000};
            return done(0, "");
        }
        if (verb == "media-load-delay") {
            expectCount(words, 2);
            const double delay = number(words[1], "a number of milliseconds");
            if (delay < 0) throw TessalyError("A delay is not negative.");
            world_.mediaLoadDelay = delay / 1000;
            return done(0, "");
        }
        if (verb == "timeline") {
            expectCount(words, 1);
            std::string text;
            for (const auto& sample : world_.timeline()) {
                char line[96];
                std::snprintf(line, sizeof line, "%.4f preview %d heard %.3f%s\n", sample.time,
                              sample.preview, sample.level, sample.firstSound ? " at its first sound" : "");
                text += line;
            }
            return done(0, text);
        }
        if (verb == "picture") {
            expectCount(words, 2);
            world_.noteRemembered();
            HeardLevelsPicture(HeardLevelsPicture::timelineOf(world_)).write(words[1]);
            return done(0, "");
        }
        if (verb == "quit") {
            expectCount(words, 1);
            done(0, "");
            return stop_();
        }
        throw TessalyError("Unknown command “" + verb + "”; see `tessaly-session help`.");
    } catch (const Error& error) {
        done(1, error.what());
    }
}

void SessionCommands::open(const std::vector<std::string>& words, const Done& done) {
    const bool arrow = words[0] == "arrow";
    const std::size_t first = arrow ? 3 : 2;
    if (words.size() < first)
        throw TessalyError(arrow ? "Name the preview and the next file." : "Name the file to preview.");
    SessionWorld::PreviewOptions options;
    options.file = words[first - 1];
    std::optional<double> expected;
    double within = defaultWait;
    for (std::size_t index = first; index < words.size(); ++index) {
        const std::string& option = words[index];
        if (option == "--paused" && !arrow) {
            options.playing = false;
            continue;
        }
        if (index + 1 >= words.size()) throw TessalyError("“" + option + "” needs a value, or is unknown.");
        const std::string& value = words[++index];
        if (option == "--controls-after" && !arrow) {
            options.controlsAfter = number(value, "a number of seconds");
        } else if (option == "--expect") {
            expected = number(value, "a level");
        } else if (option == "--within") {
            within = number(value, "a number of seconds");
        } else {
            throw TessalyError("Unknown option “" + option + "”.");
        }
    }
    if (arrow) {
        const int replaced = previewNumber(words, 1);
        const int preview = world_.showNextFile(replaced, options.file);
        const std::string opening = "Preview " + std::to_string(preview) + " (" + options.file +
                                    ") replaced preview " + std::to_string(replaced) + " in its window";
        return reportOpening(preview, opening, world_.preview(preview)->playing, expected, within, done);
    }
    const int preview = world_.openPreview(options);
    const std::string opening = "Preview " + std::to_string(preview) + " (" + options.file + ") opened";
    reportOpening(preview, opening, options.playing, expected, within, done);
}

void SessionCommands::reportOpening(int preview, std::string opening, bool playing,
                                    std::optional<double> expected, double within, const Done& done) {
    const double opened = world_.lives().at(preview).opened;
    const std::uint64_t callsBefore = world_.accessibilityCalls();
    auto settle = [this, preview, expected, within, opened, callsBefore, done](const std::string& line) {
        if (!expected) return done(0, line + ".\n");
        waitHeard(preview, *expected, within, opened, callsBefore, line, done);
    };
    if (!playing) return settle(opening + ", paused");
    auto reported = std::make_shared<bool>(false);
    auto firstSound = [this, preview, opening, opened, settle, reported, done] {
        if (*reported) return true;
        const auto& life = world_.lives().at(preview);
        if (!life.soundStarted && !life.closed) return false;
        *reported = true;
        if (!life.soundStarted) {
            done(1, opening + " and closed before it played.");
            return true;
        }
        double level = 0;
        for (const auto& sample : world_.timeline()) {
            if (sample.preview == preview && sample.firstSound) level = sample.level;
        }
        settle(opening + ", heard at " + percent(level) + " at its first sound, " +
               milliseconds(*life.soundStarted - opened) + " after its window appeared");
        return true;
    };
    if (!firstSound()) world_.watch(firstSound);
}

void SessionCommands::waitHeard(int preview, double level, double within, double since,
                                std::uint64_t callsBefore, std::string opening, const Done& done) {
    auto finished = std::make_shared<bool>(false);
    auto report = [this, preview, level, since, opening, done, finished, callsBefore]() {
        auto state = world_.preview(preview);
        // Settled: the speakers play the level and the player shows it, so a user acting now acts
        // on a preview the helper has finished with. A player still loading its file plays nothing yet.
        if (*finished || !state || (state->playing && !state->soundStarted) ||
            !sameLevel(state->heard, level) || !sameLevel(state->slider, level))
            return *finished;
        *finished = true;
        const std::string prefix = opening.empty() ? "Preview " + std::to_string(preview) : opening + ";";
        done(0, prefix + " heard at " + percent(level) + " after " + milliseconds(world_.now() - since) +
                    " and " + std::to_string(world_.accessibilityCalls() - callsBefore) +
                    " Accessibility calls.\n");
        return true;
    };
    if (report()) return;
    world_.watch(report);
    runLoop_.postAfter(within, [this, preview, level, within, opening, done, finished] {
        if (*finished) return;
        *finished = true;
        auto state = world_.preview(preview);
        const std::string prefix = opening.empty() ? "Preview " + std::to_string(preview) : opening + ";";
        done(1, prefix + " not heard at " + percent(level) + " within " + milliseconds(within) +
                    " (heard at " + (state ? percent(state->heard) : std::string("nothing, closed")) + ").");
    });
}

}  // namespace tessaly
