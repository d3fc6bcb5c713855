#include "AppPlatform.h"

#include <chrono>
#include <thread>

namespace tessaly {

namespace {

void sleepFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

}  // namespace

AppPlatform::AppPlatform()
    : service(SetupPlatform{process, serviceManagement, commands, workspace, ports, accessibility, sleepFor,
                            InstallationPaths::forCurrentUser()}) {}

}  // namespace tessaly
