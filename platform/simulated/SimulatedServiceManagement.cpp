#include "simulated/SimulatedServiceManagement.h"

#include <utility>

#include "foundation/Error.h"

namespace tessaly {

int SimulatedServiceManagement::status(const std::string& plistName) {
    return plistName == agentName_ ? status_ : SMAppServiceStatusNotFound;
}

void SimulatedServiceManagement::registerService(const std::string& plistName) {
    calls_.push_back("register " + plistName);
    if (plistName != agentName_)
        throw Error("The operation couldn\u2019t be completed. No such file or directory");
    if (auto failure = std::exchange(registrationFailure_, std::nullopt)) {
        if (failure->statusAfter) status_ = *failure->statusAfter;
        throw Error(failure->description);
    }
    if (switchedOff_) {
        status_ = SMAppServiceStatusRequiresApproval;
        throw ServiceManagementError(kSMErrorLaunchDeniedByUser, "Operation not permitted");
    }
    status_ = statusAfterRegistering_;
    if (onRegister_) onRegister_();
}

void SimulatedServiceManagement::unregisterService(const std::string& plistName) {
    calls_.push_back("unregister " + plistName);
    if (auto failure = std::exchange(unregistrationFailure_, std::nullopt)) throw Error(*failure);
    if (plistName != agentName_) return;
    status_ = SMAppServiceStatusNotRegistered;
    if (onUnregister_) onUnregister_();
}

void SimulatedServiceManagement::openSystemSettingsLoginItems() {
    calls_.push_back("open login items");
    if (!std::exchange(switchedOff_, false) || status_ != SMAppServiceStatusRequiresApproval) return;
    status_ = SMAppServiceStatusEnabled;
    if (onRegister_) onRegister_();
}

void SimulatedServiceManagement::switchOff() {
    switchedOff_ = true;
    if (status_ != SMAppServiceStatusEnabled) return;
    status_ = SMAppServiceStatusRequiresApproval;
    if (onUnregister_) onUnregister_();
}

void SimulatedServiceManagement::failNextRegistration(std::string description,
                                                      std::optional<int> statusAfter) {
    registrationFailure_ = Failure{std::move(description), statusAfter};
}

void SimulatedServiceManagement::failNextUnregistration(std::string description) {
    unregistrationFailure_ = std::move(description);
}

}  // namespace tessaly
