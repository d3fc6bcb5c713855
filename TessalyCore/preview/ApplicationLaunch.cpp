#include "preview/ApplicationLaunch.h"

#include "foundation/Version.h"

namespace tessaly::ApplicationLaunch {

std::string pathExtension(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const auto slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return "";
    return name.substr(dot + 1);
}

bool isOpenedAsApplication(const ProcessEnvironment& process) {
    const MainBundle bundle = process.mainBundle();
    return bundle.identifier == bundleIdentifier && pathExtension(bundle.path) == "app" &&
           process.parentProcessID() == 1;
}

}  // namespace tessaly::ApplicationLaunch
