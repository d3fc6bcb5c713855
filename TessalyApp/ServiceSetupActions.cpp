#include "ServiceSetupActions.h"

#include <utility>

namespace tessaly {

ServiceSetupActions::ServiceSetupActions(SetupService& service, Workspace& workspace,
                                         std::string applicationsFolder)
    : service_(service), workspace_(workspace), applicationsFolder_(std::move(applicationsFolder)) {}

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
    return workspace_.revealFolder(applicationsFolder_);
}

}  // namespace tessaly
