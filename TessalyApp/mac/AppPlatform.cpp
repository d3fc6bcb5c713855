#include "AppPlatform.h"

#include <utility>

namespace tessaly {

AppPlatform::AppPlatform(std::function<void(double)> sleep)
    : service(SetupPlatform{process, serviceManagement, commands, workspace, ports, accessibility,
                            std::move(sleep), InstallationPaths::forCurrentUser()}) {}

}  // namespace tessaly
