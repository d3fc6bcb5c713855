#include "ServiceSetupActions.h"

#include <utility>

#include "foundation/FileSystem.h"

namespace tessaly {

ServiceSetupActions::ServiceSetupActions(SetupService& service, Workspace& workspace, InstallationPaths paths)
    : service_(service), workspace_(workspace), paths_(std::move(paths)) {}

void ServiceSetupActions::enable() {
    service_.enable();
}

void ServiceSetupActions::disable() {
    service_.disable();
}

void ServiceSetupActions::restart() {
    service_.restart();
}

void ServiceSetupActions::uninstall() {
    service_.uninstall();
}

void ServiceSetupActions::requestAccessibility() {
    service_.requestAccessibility();
}

void ServiceSetupActions::openAccessibilitySettings() {
    service_.openAccessibilitySettings();
}

void ServiceSetupActions::openLoginSettings() {
    service_.openLoginSettings();
}

SetupSnapshot ServiceSetupActions::snapshot() {
    return service_.snapshot();
}

bool ServiceSetupActions::revealApplicationsFolder() {
    const std::string userFolder = FileSystem::parentPath(paths_.userApplicationsCopy());
    const std::string systemFolder = FileSystem::parentPath(paths_.systemApplicationsCopy());
    if (FileSystem::exists(paths_.userApplicationsCopy())) return workspace_.revealFolder(userFolder);
    if (FileSystem::exists(paths_.systemApplicationsCopy())) return workspace_.revealFolder(systemFolder);
    return workspace_.revealFolder(FileSystem::exists(userFolder) ? userFolder : systemFolder);
}

}  // namespace tessaly
