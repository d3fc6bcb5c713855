// tessaly-login: what launchd does on a Mac, for Linux. The autostart entry of a registered login
// item runs "tessaly-login start <agent name>" when the user logs in; it starts the item's helper
// under its supervisor, unless one runs already. "tessaly-login launchctl <arguments>" runs the
// launchctl stand-in, to load and unload launch agents by hand.

#include <iostream>
#include <string>
#include <vector>

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
        if (arguments.size() != 2 || arguments[0] != "start") {
            std::cerr << "tessaly-login: Usage: tessaly-login start <agent name> | launchctl <arguments>\n";
            return 1;
        }
        const tessaly::PosixProcessEnvironment process;
        tessaly::PosixServiceManagement(process.mainBundle().path).startAtLogin(arguments[1]);
        return 0;
    } catch (const std::exception& failure) {
        std::cerr << "tessaly-login: " << failure.what() << '\n';
        return 1;
    }
}
