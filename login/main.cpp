// tessaly-login: what launchd does on a Mac, for Linux. The autostart entry of a registered login
// item runs "tessaly-login start <agent name>" when the user logs in; it starts the item's helper
// under its supervisor, unless one runs already, and loads the launch agents in the user's
// Library/LaunchAgents that are not disabled, as launchd does at every login.
// "tessaly-login launchctl <arguments>" runs the launchctl stand-in, to load and unload launch
// agents by hand; "tessaly-login switch-off <agent name>" stands for the user switching the login
// item off in Login Items settings.

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "foundation/FileSystem.h"
#include "posix/PosixLaunchctl.h"
#include "posix/PosixProcessEnvironment.h"
#include "posix/PosixServiceManagement.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        if (!arguments.empty() && arguments[0] == "launchctl") {
            const auto result = tessaly::PosixLaunchctl().run(
                tessaly::PosixLaunchctl::path,
                std::vector<std::string>(arguments.begin() + 1, arguments.end()));
            std::cout << result.output;
            return result.exitCode;
        }
        if (arguments.size() != 2 || (arguments[0] != "start" && arguments[0] != "switch-off")) {
            std::cerr << "tessaly-login: Usage: tessaly-login start <agent name> | switch-off <agent name> | "
                         "launchctl <arguments>\n";
            return 1;
        }
        const tessaly::PosixProcessEnvironment process;
        if (arguments[0] == "switch-off") {
            tessaly::PosixServiceManagement(process.mainBundle().path).switchOff(arguments[1]);
            return 0;
        }
        // launchd starts the registered login items and loads the user's own launch agents; the
        // login item comes first here, so that its helper is the one that takes the status port.
        std::exception_ptr loginItemFailure;
        try {
            tessaly::PosixServiceManagement(process.mainBundle().path).startAtLogin(arguments[1]);
        } catch (const std::exception&) {
            loginItemFailure = std::current_exception();
        }
        tessaly::PosixLaunchctl().loadAgentsAtLogin(tessaly::FileSystem::homeDirectory() +
                                                    "/Library/LaunchAgents");
        if (loginItemFailure) std::rethrow_exception(loginItemFailure);
        return 0;
    } catch (const std::exception& failure) {
        std::cerr << "tessaly-login: " << failure.what() << '\n';
        return 1;
    }
}
