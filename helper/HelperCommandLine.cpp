#include "HelperCommandLine.h"

#include <exception>

#include "HelperCommand.h"
#include "TessalyError.h"
#include "Version.h"

namespace tessaly {

namespace {

const char* const usageLine = "Usage: tessaly-helper run | authorize | status [--json] | stop | --version";

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
        case HelperCommand::version: out_ << "Tessaly " << version << '\n'; return;
        case HelperCommand::help: out_ << usageLine << '\n'; return;
        case HelperCommand::authorize:
            throw TessalyError("Accessibility authorization is not available in this build yet.");
        case HelperCommand::run:
            throw TessalyError("The audio memory service is not available in this build yet.");
        case HelperCommand::status:
        case HelperCommand::statusJson:
            throw TessalyError("Reading the helper's status is not available in this build yet.");
        case HelperCommand::stop:
            throw TessalyError("Stopping the helper is not available in this build yet.");
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
