#include "SessionCommandLine.h"

#include <signal.h>

#include <cstdlib>

#include "SessionCommands.h"
#include "SessionServer.h"
#include "SessionWorld.h"
#include "foundation/Error.h"
#include "posix/AsioRunLoop.h"
#include "posix/RuntimeDirectory.h"
#include "session/SessionConnection.h"

namespace tessaly {

namespace {

// Seconds between two readings of the remembered level, well within the helper's save delay.
constexpr double rememberedPollInterval = 0.01;

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    return home ? home : "/";
}

}  // namespace

int SessionCommandLine::run(const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments[0] == "help" || arguments[0] == "--help") {
        out_ << SessionCommands::usage();
        return arguments.empty() ? 1 : 0;
    }
    if (arguments[0] == "run") return serve(arguments);
    return send(arguments);
}

int SessionCommandLine::fail(const std::string& message) {
    err_ << "tessaly-session: " << message << "\n";
    return 1;
}

int SessionCommandLine::serve(const std::vector<std::string>& arguments) {
    SessionLatency latency;
    double mediaLoadDelay = SessionWorld::defaultMediaLoadDelay;
    for (std::size_t index = 1; index < arguments.size(); index += 2) {
        if (index + 1 >= arguments.size())
            return fail("“" + arguments[index] + "” needs a number of milliseconds.");
        char* end = nullptr;
        const double milliseconds = std::strtod(arguments[index + 1].c_str(), &end);
        if (*end != '\0' || !(milliseconds >= 0))
            return fail("“" + arguments[index + 1] + "” is not a number of milliseconds.");
        if (arguments[index] == "--accessibility-latency") {
            latency.accessibility = milliseconds / 1000;
        } else if (arguments[index] == "--core-audio-latency") {
            latency.coreAudio = milliseconds / 1000;
        } else if (arguments[index] == "--media-load-delay") {
            mediaLoadDelay = milliseconds / 1000;
        } else {
            return fail("Unknown option “" + arguments[index] + "”.");
        }
    }
    try {
        const RuntimeDirectory runtime = RuntimeDirectory::forCurrentUser();
        runtime.prepare();
        AsioRunLoop loop;
        SessionWorld world(loop, homeFolder());
        world.latency = latency;
        world.mediaLoadDelay = mediaLoadDelay;
        SessionCommands commands(world, loop, [&loop] { loop.stop(); });
        SessionServer server(
            loop, world, runtime.entry(SessionProtocol::socketName),
            [&commands](const auto& words, auto done) { commands.run(words, std::move(done)); });
        // What the helper remembers over time, for the picture: each save lands in its file.
        auto remembered = loop.makeTimer(0, rememberedPollInterval, 0, [&world] { world.noteRemembered(); });
        loop.ignoreSignal(SIGTERM);
        loop.ignoreSignal(SIGINT);
        auto terminate = loop.watchSignal(SIGTERM, [&loop] { loop.stop(); });
        auto interrupt = loop.watchSignal(SIGINT, [&loop] { loop.stop(); });
        out_ << "Session running at " << runtime.entry(SessionProtocol::socketName) << "." << std::endl;
        loop.run();
        return 0;
    } catch (const Error& error) {
        return fail(error.what());
    }
}

int SessionCommandLine::send(const std::vector<std::string>& arguments) {
    std::shared_ptr<SessionConnection> session;
    try {
        session = SessionConnection::connectIfRunning(RuntimeDirectory::forCurrentUser(), "tessaly-session");
    } catch (const Error& error) {
        return fail(error.what());
    }
    if (!session) return fail("No session is running for this user; start one with `tessaly-session run`.");
    const auto reply = session->call(SessionProtocol::command, SessionFrame::Writer().texts(arguments));
    if (!reply) return fail("The session went away before it answered.");
    SessionFrame::Reader fields(*reply);
    const int status = fields.i32();
    const std::string output = fields.text();
    if (status != 0) return fail(output);
    out_ << output << std::flush;
    return 0;
}

}  // namespace tessaly
