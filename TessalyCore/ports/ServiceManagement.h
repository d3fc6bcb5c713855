#pragma once
// Port: Service Management's login-item agent service (SMAppService.agent(plistName:)). Plain C++;
// implementations live in platform/posix (a per-user stand-in) and platform/simulated.

#include <string>

#include "foundation/Error.h"

namespace tessaly {

/// SMAppServiceStatus values. status() returns the raw number, since macOS may add values.
enum SMAppServiceStatus : int {
    SMAppServiceStatusNotRegistered = 0,
    SMAppServiceStatusEnabled = 1,
    SMAppServiceStatusRequiresApproval = 2,
    SMAppServiceStatusNotFound = 3,
};

/// Codes of SMAppServiceErrorDomain (SMErrors.h) that the setup tells apart.
enum SMErrorCode : int {
    /// Registering an item that the user switched off in Login Items settings.
    kSMErrorLaunchDeniedByUser = 11,
};

/// A failed registration or unregistering as Service Management reports it in SMAppServiceErrorDomain:
/// its code, and its localized description as the sentence the user is shown.
class ServiceManagementError : public Error {
public:
    ServiceManagementError(int code, const std::string& description) : Error(description), code_(code) {}

    int code() const { return code_; }

private:
    int code_;
};

/// The agent services of the running application's bundle; the agent definition named by
/// `plistName` lies in the bundle's Contents/Library/LaunchAgents.
class ServiceManagement {
public:
    virtual ~ServiceManagement() = default;

    /// SMAppService.status, read anew on every call.
    virtual int status(const std::string& plistName) = 0;
    /// -[SMAppService registerAndReturnError:]; throws the platform's error, a ServiceManagementError
    /// when Service Management gave one.
    virtual void registerService(const std::string& plistName) = 0;
    /// -[SMAppService unregisterAndReturnError:]; throws the platform's error, as registering does.
    virtual void unregisterService(const std::string& plistName) = 0;
    /// +[SMAppService openSystemSettingsLoginItems].
    virtual void openSystemSettingsLoginItems() = 0;
};

}  // namespace tessaly
