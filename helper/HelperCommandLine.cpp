#include "HelperCommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "HelperCommand.h"
#include "HelperPlatform.h"
#include "foundation/FileSystem.h"
#include "foundation/TessalyError.h"
#include "foundation/Version.h"
#include "preview/AccessibilityAuthorization.h"
#include "service/StatusClient.h"

namespace tessaly {

namespace {

const char* const usageLine = "Usage: tessaly-helper run | authorize | status [--json] | stop | --version";

// The services the mute service runs on, from either system's composition root; exiting ends the
// process at once, its output flushed.
MuteServicePlatform muteServicePlatform(HelperPlatform& platform) {
    return MuteServicePlatform{platform.audio, platform.accessibility, platform.workspace, platform.runLoop,
                               platform.ports, platform.log,
                               // The helper's process id does not change while it runs; every
                               // status reports it.
                               [pid = platform.process.processID()] { return pid; },
                               [](int status) {
                                   std::fflush(nullptr);
                                   std::_Exit(status);
                               }};
}

}  // namespace

int HelperCommandLine::run(const std::vector<std::string>& arguments) {
    try {
        perform(arguments);
        out_.flush();
        return 0;
    } catch (const std::exception& error) {
        return fail(arguments, error.what());
    }
}

void HelperCommandLine::perform(const std::vector<std::string>& arguments) {
    const auto command = parseHelperCommand(arguments);
    if (!command) throw TessalyError("Invalid arguments. Use 'tessaly-helper --help'.");
    switch (*command) {
        case HelperCommand::version:
            out_ << "Tessaly " << version << '\n';
            return;
        case HelperCommand::help:
            out_ << usageLine << '\n';
            return;
        default:
            break;
    }
    HelperPlatform platform(log_);
    switch (*command) {
        case HelperCommand::authorize:
            AccessibilityAuthorization::run({platform.process, platform.application, platform.accessibility,
                                             platform.workspace, platform.runLoop, platform.log});
            return;
        case HelperCommand::run: {
            MuteService service(muteServicePlatform(platform),
                                PreferenceStore::forHome(FileSystem::homeDirectory()));
            service.run();
            return;
        }
        case HelperCommand::status: {
            const AudioStatus status = StatusClient::read(platform.ports);
            status.validate();
            out_ << status.summary();
            return;
        }
        case HelperCommand::statusJson: {
            const AudioStatus status = StatusClient::read(platform.ports);
            out_ << Json::writePretty(status.toJson()) << '\n';
            out_.flush();
            status.validate();
            return;
        }
        case HelperCommand::stop:
            StatusClient::stopIfRunning(platform.ports);
            return;
        default:
            return;
    }
}

int HelperCommandLine::fail(const std::vector<std::string>& arguments, const std::string& description) {
    const std::string message = "Tessaly: " + description;
    // Helpers started by launchd leave a trace in the system log.
    if (!arguments.empty() && arguments.front() == "run") log_.write("command", LogLevel::error, message);
    out_.flush();
    err_ << message << '\n';
    err_.flush();
    return 1;
}

}  // namespace tessaly
