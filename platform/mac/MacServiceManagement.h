#pragma once

#include "ports/ServiceManagement.h"

namespace tessaly {

/// The login-item agent service over SMAppService (Objective-C++). Service Management's errors are
/// thrown with their localized description: as ServiceManagementError, with their code, when they
/// are of SMAppServiceErrorDomain, otherwise as TessalyError.
class MacServiceManagement : public ServiceManagement {
public:
    int status(const std::string& plistName) override;
    void registerService(const std::string& plistName) override;
    /// Synchronous (unregisterAndReturnError:); the caller is the setup worker, not the main thread.
    void unregisterService(const std::string& plistName) override;
    void openSystemSettingsLoginItems() override;
};

}  // namespace tessaly
