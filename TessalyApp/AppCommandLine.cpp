#include "AppCommandLine.h"

#include <exception>

#include "AppCommand.h"
#include "foundation/TessalyError.h"
#include "foundation/Version.h"
#include "preview/ApplicationLaunch.h"

namespace tessaly {

namespace {

const char* const usageLine =
    "Open Tessaly.app for setup. CLI: enable | disable | restart | uninstall | setup-status --json";

}  // namespace

AppCommandLine::AppCommandLine(ProcessEnvironment& process, ServiceProvider service, WindowOpener openWindow,
                               CommandInterruption& interruption, std::ostream& out, std::ostream& err)
    : process_(process),
      service_(std::move(service)),
      openWindow_(std::move(openWindow)),
      interruption_(interruption),
      out_(out),
      err_(err) {}

int AppCommandLine::run(const std::vector<std::string>& arguments) {
    try {
        const int status = perform(arguments);
        out_.flush();
        return status;
    } catch (const std::exception& error) {
        out_.flush();
        err_ << "Tessaly: " << error.what() << '\n';
        err_.flush();
        return 1;
    }
}

int AppCommandLine::perform(const std::vector<std::string>& arguments) {
    const auto command = parseAppCommand(arguments);
    if (!command) throw TessalyError("Invalid arguments. Open Tessaly.app or use --help.");
    switch (*command) {
        case AppCommand::version:
            out_ << "Tessaly " << version << '\n';
            return 0;
        case AppCommand::help:
            out_ << usageLine << '\n';
            return 0;
        case AppCommand::openSetup: {
            requireOpenedAsApplication();
            return openWindow_(service_());
        }
        case AppCommand::enable:
            return operate(&SetupService::enable, "Quick Look audio memory is enabled, including at login.");
        case AppCommand::disable:
            return operate(&SetupService::disable,
                           "Quick Look audio memory is disabled, including at login.");
        case AppCommand::restart:
            return operate(&SetupService::restart,
                           "Quick Look audio memory restarted with the saved choice.");
        case AppCommand::uninstall:
            return operate(&SetupService::uninstall,
                           "Tessaly was moved to Trash. The saved audio preference was retained.");
        case AppCommand::setupStatusJson: {
            const std::string json = Json::writePretty(service_().snapshot().toJson());
            out_ << json;
            out_ << '\n';
            return 0;
        }
    }
    return 0;
}

int AppCommandLine::operate(void (SetupService::*operation)(), const char* success) {
    SetupService& service = service_();
    {
        // An operation that ran to its end succeeded, even when a signal came after its last wait.
        const CommandInterruption::Catching catching(interruption_);
        (service.*operation)();
    }
    out_ << success << '\n';
    return 0;
}

void AppCommandLine::requireOpenedAsApplication() const {
    if (!ApplicationLaunch::isOpenedAsApplication(process_)) {
        throw TessalyError("Open Tessaly.app from Finder. Do not grant Accessibility to Terminal.");
    }
}

}  // namespace tessaly
