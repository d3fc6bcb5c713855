#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ports/ServiceManagement.h"

namespace tessaly {

/// The login-item agent service in memory, for a bundle that carries one agent definition. Its
/// status is whatever a test sets; registering makes it enabled (or what the test chose) and
/// unregistering makes it not registered. Either can be made to fail once with a platform error,
/// and hooks let a test start or stop a helper the way launchd would when the item is registered
/// or unregistered. Any other name is not in the bundle: not found, and never registered.
class SimulatedServiceManagement : public ServiceManagement {
public:
    /// The bundle's agent definition is `agentName` (in Contents/Library/LaunchAgents).
    explicit SimulatedServiceManagement(std::string agentName) : agentName_(std::move(agentName)) {}

    /// The status last set for the bundle's agent; not found for any other name.
    int status(const std::string& plistName) override;
    /// Fails for another name, when a failure was armed or when the item is switched off; otherwise
    /// the status becomes the registered status and the register hook runs.
    void registerService(const std::string& plistName) override;
    /// Fails when a failure was armed; otherwise the item is not registered any more and the
    /// unregister hook runs. Another name was never registered: nothing changes.
    void unregisterService(const std::string& plistName) override;
    /// Stands for the user switching the item on in Login Items settings: an item switched off
    /// (switchOff) is on again, and enabled when it was registered.
    void openSystemSettingsLoginItems() override;

    /// Stands for the user switching the item off in Login Items settings: a registered item
    /// requires approval, and registering it, as recent macOS does, leaves it requiring approval
    /// and fails with kSMErrorLaunchDeniedByUser ("Operation not permitted").
    void switchOff();

    /// Sets the raw SMAppService status; any number, so that values macOS may add can be tried.
    void setStatus(int status) { status_ = status; }
    /// The status a successful registration leaves (enabled unless set).
    void setStatusAfterRegistering(int status) { statusAfterRegistering_ = status; }
    /// The next registration throws a platform error with `description`. With `statusAfter`, the
    /// status changes to it first, as a registration that half happened.
    void failNextRegistration(std::string description, std::optional<int> statusAfter = std::nullopt);
    /// The next unregistering throws a platform error with `description`; the status stays.
    void failNextUnregistration(std::string description);
    /// Runs after every successful registration (for example: start a helper).
    void onRegister(std::function<void()> action) { onRegister_ = std::move(action); }
    /// Runs after every successful unregistering (for example: stop the helper).
    void onUnregister(std::function<void()> action) { onUnregister_ = std::move(action); }

    /// Every call but status, in order: "register <name>", "unregister <name>", "open login items".
    const std::vector<std::string>& calls() const { return calls_; }

private:
    struct Failure {
        std::string description;
        std::optional<int> statusAfter;
    };

    std::string agentName_;
    int status_ = SMAppServiceStatusNotRegistered;
    int statusAfterRegistering_ = SMAppServiceStatusEnabled;
    bool switchedOff_ = false;
    std::optional<Failure> registrationFailure_;
    std::optional<std::string> unregistrationFailure_;
    std::function<void()> onRegister_;
    std::function<void()> onUnregister_;
    std::vector<std::string> calls_;
};

}  // namespace tessaly
