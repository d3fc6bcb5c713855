#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "CommandInterruption.h"
#include "ports/ProcessEnvironment.h"
#include "setup/SetupService.h"

namespace tessaly {

/// The setup application's command line: opens the setup window for a process that was opened as
/// the application, or performs one setup operation and prints its one-line result. Any failure is
/// one "Tessaly: " line on standard error and exit status 1.
class AppCommandLine {
public:
    /// Builds the setup service on first use, so that --version and --help need nothing.
    using ServiceProvider = std::function<SetupService&()>;
    /// Runs the setup window's event loop; returns the exit status.
    using WindowOpener = std::function<int(SetupService&)>;

    /// `interruption` is the setup service's sleep: the operations catch termination signals there.
    AppCommandLine(ProcessEnvironment& process, ServiceProvider service, WindowOpener openWindow,
                   CommandInterruption& interruption, std::ostream& out, std::ostream& err);

    /// Runs the command named by `arguments` (executable path removed); returns the exit status.
    int run(const std::vector<std::string>& arguments);

private:
    int perform(const std::vector<std::string>& arguments);
    /// Runs one setup operation with the termination signals caught, then prints `success`.
    int operate(void (SetupService::*operation)(), const char* success);
    /// Refuses to open the window in a process that was not opened as the application.
    void requireOpenedAsApplication() const;

    ProcessEnvironment& process_;
    ServiceProvider service_;
    WindowOpener openWindow_;
    CommandInterruption& interruption_;
    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace tessaly
