#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "AppCommandLine.h"
#include "AppPlatform.h"
#include "SetupApplication.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    std::unique_ptr<tessaly::AppPlatform> platform;
    tessaly::AppPlatform::Process process;
    tessaly::CommandInterruption interruption;
    tessaly::AppCommandLine commandLine(
        process,
        [&platform, &interruption]() -> tessaly::SetupService& {
            if (!platform) {
                platform = std::make_unique<tessaly::AppPlatform>(
                    [&interruption](double seconds) { interruption.sleep(seconds); });
            }
            return platform->service;
        },
        [&](tessaly::SetupService& service) {
            return tessaly::openSetupWindow(service, platform->workspace, argc, argv);
        },
        interruption, std::cout, std::cerr);
    return commandLine.run(arguments);
}
