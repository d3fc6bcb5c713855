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
    tessaly::AppCommandLine commandLine(
        process,
        [&platform]() -> tessaly::SetupService& {
            if (!platform) platform = std::make_unique<tessaly::AppPlatform>();
            return platform->service;
        },
        [&](tessaly::SetupService& service) {
            return tessaly::openSetupWindow(service, platform->workspace, argc, argv);
        },
        std::cout, std::cerr);
    return commandLine.run(arguments);
}
