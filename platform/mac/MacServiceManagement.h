#pragma once

#include "ports/ServiceManagement.h"

namespace tessaly {

/// The login-item agent service over SMAppService (Objective-C++, compiled on a Mac only). Service
/// Management's errors are thrown as TessalyError with their localized description.
class MacServiceManagement : public ServiceManagement {
public:
    int status(const std::string& plistName) override;
    void registerService(const std::string& plistName) override;
    /// Waits for the completion handler; the caller is not the main thread (the setup worker).
    void unregisterService(const std::string& plistName) override;
    void openSystemSettingsLoginItems() override;
};

}  // namespace tessaly
