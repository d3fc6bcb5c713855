// Service Management's agent services.

#include "mac/MacServiceManagement.h"

#import <Foundation/Foundation.h>
#import <ServiceManagement/ServiceManagement.h>

#include "foundation/TessalyError.h"
#include "mac/apple/AutoreleasePool.h"
#include "mac/apple/FoundationText.h"

namespace tessaly {

namespace {

SMAppService* agent(const std::string& plistName) {
    return [SMAppService agentServiceWithPlistName:foundationString(plistName)];
}

[[noreturn]] void fail(NSError* error, const char* whenUnexplained) {
    const std::string description = error == nil ? std::string() : utf8([error localizedDescription]);
    const std::string sentence = description.empty() ? whenUnexplained : description;
    // Its code tells the setup what the user can do about it (an item they switched off).
    if (error != nil && [[error domain] isEqualToString:SMAppServiceErrorDomain]) {
        throw ServiceManagementError(static_cast<int>([error code]), sentence);
    }
    throw TessalyError(sentence);
}

}  // namespace

int MacServiceManagement::status(const std::string& plistName) {
    AutoreleasePool pool;
    return static_cast<int>([agent(plistName) status]);
}

void MacServiceManagement::registerService(const std::string& plistName) {
    AutoreleasePool pool;
    NSError* error = nil;
    if (![agent(plistName) registerAndReturnError:&error])
        fail(error, "The login item could not be registered.");
}

void MacServiceManagement::unregisterService(const std::string& plistName) {
    AutoreleasePool pool;
    NSError* error = nil;
    if (![agent(plistName) unregisterAndReturnError:&error]) {
        fail(error, "The login item could not be unregistered.");
    }
}

void MacServiceManagement::openSystemSettingsLoginItems() {
    AutoreleasePool pool;
    [SMAppService openSystemSettingsLoginItems];
}

}  // namespace tessaly
