#pragma once
// Port: Service Management's login-item agent service (SMAppService.agent(plistName:)). Plain C++;
// implementations live in platform/posix (a per-user stand-in) and platform/simulated.

#include <string>

namespace tessaly {

/// SMAppServiceStatus values. status() returns the raw number, since macOS may add values.
enum SMAppServiceStatus : int {
    SMAppServiceStatusNotRegistered = 0,
    SMAppServiceStatusEnabled = 1,
    SMAppServiceStatusRequiresApproval = 2,
    SMAppServiceStatusNotFound = 3,
};

/// The agent services of the running application's bundle; the agent definition named by
/// `plistName` lies in the bundle's Contents/Library/LaunchAgents.
class ServiceManagement {
public:
    virtual ~ServiceManagement() = default;

    /// SMAppService.status, read anew on every call.
    virtual int status(const std::string& plistName) = 0;
    /// -[SMAppService registerAndReturnError:]; throws the platform's error.
    virtual void registerService(const std::string& plistName) = 0;
    /// -[SMAppService unregisterAndReturnError:]; throws the platform's error.
    virtual void unregisterService(const std::string& plistName) = 0;
    /// +[SMAppService openSystemSettingsLoginItems].
    virtual void openSystemSettingsLoginItems() = 0;
};

}  // namespace tessaly
