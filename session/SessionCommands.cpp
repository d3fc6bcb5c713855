#include "SessionCommands.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "HeardLevelsPicture.h"
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

std::string percent(double level) {
    char text[16];
    std::snprintf(text, sizeof text, "%.0f %%", level * 100);
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
    return "Usage: tessaly-session run [--accessibility-latency MS] [--core-audio-latency MS]\n"
           "       tessaly-session COMMAND, acting as the user in the running session:\n"
           "  state [--json]               processes, taps, aggregate devices, previews and what they sound like\n"
           "  launch-quicklook | quit-quicklook\n"
           "  open FILE [--paused] [--controls-after SECONDS] [--expect LEVEL] [--within SECONDS]\n"
           "                               a preview, playing unless paused; --expect waits until it is heard at\n"
           "                               LEVEL and its slider shows it\n"
           "  show-controls N | speaker N | slider N LEVEL | play N | pause N | close N\n"
           "  wait-heard N LEVEL [--within SECONDS]\n"
           "  trust grant|revoke | restart-audio | slow-finder on|off\n"
           "  latency ACCESSIBILITY_MS CORE_AUDIO_MS\n"
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
        if (verb == "open") return open(words, done);
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
            return waitHeard(preview, number(words[2], "a level"), within, world_.now(), "", done);
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
        if (verb == "timeline") {
            expectCount(words, 1);
            std::string text;
            for (const auto& sample : world_.timeline()) {
                char line[96];
                std::snprintf(line, sizeof line, "%.4f preview %d heard %.3f\n", sample.time, sample.preview,
                              sample.level);
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
    if (words.size() < 2) throw TessalyError("Name the file to preview.");
    SessionWorld::PreviewOptions options;
    options.file = words[1];
    std::optional<double> expected;
    double within = defaultWait;
    for (std::size_t index = 2; index < words.size(); ++index) {
        const std::string& option = words[index];
        if (option == "--paused") {
            options.playing = false;
            continue;
        }
        if (index + 1 >= words.size()) throw TessalyError("“" + option + "” needs a value, or is unknown.");
        const std::string& value = words[++index];
        if (option == "--controls-after") {
            options.controlsAfter = number(value, "a number of seconds");
        } else if (option == "--expect") {
            expected = number(value, "a level");
        } else if (option == "--within") {
            within = number(value, "a number of seconds");
        } else {
            throw TessalyError("Unknown option “" + option + "”.");
        }
    }
    const double opened = world_.now();
    const int preview = world_.openPreview(options);
    const double first = world_.preview(preview)->heard;
    const std::string opening =
        "Preview " + std::to_string(preview) + " (" + options.file + ") opened" +
        (options.playing ? ", heard at " + percent(first) + " at its first sound" : ", paused");
    if (!expected) return done(0, opening + ".\n");
    waitHeard(preview, *expected, within, opened, opening, done);
}

void SessionCommands::waitHeard(int preview, double level, double within, double since, std::string opening,
                                const Done& done) {
    auto finished = std::make_shared<bool>(false);
    const std::uint64_t callsBefore = world_.accessibilityCalls();
    auto report = [this, preview, level, since, opening, done, finished, callsBefore]() {
        auto state = world_.preview(preview);
        // Settled: the speakers play the level and the player shows it, so a user acting now acts
        // on a preview the helper has finished with.
        if (*finished || !state || !sameLevel(state->heard, level) || !sameLevel(state->slider, level))
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
