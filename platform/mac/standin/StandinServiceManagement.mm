// Service Management's agent services on Linux: SMAppService routed into a ServiceManagement port
// (the per-user login items of platform/posix, or a test's own).

#import <ServiceManagement/ServiceManagement.h>

#include <exception>

#include "mac/standin/StandinObjC.h"
#include "mac/standin/StandinRoutes.h"
#include "ports/ServiceManagement.h"

namespace {

// The routed service, or a failure as Service Management reports one.
tessaly::ServiceManagement* routed(NSError** error) {
    tessaly::ServiceManagement* service = tessaly::MacStandin::routedServiceManagement();
    if (service == nullptr && error != nullptr) {
        *error = tessaly::MacStandin::foundationError("Service Management is not available.");
    }
    return service;
}

template <typename Call>
BOOL answer(NSError** error, Call call) {
    tessaly::ServiceManagement* service = routed(error);
    if (service == nullptr) return NO;
    try {
        call(*service);
        return YES;
    } catch (const tessaly::ServiceManagementError& failure) {
        if (error != nullptr) {
            NSDictionary* info = [NSDictionary dictionaryWithObject:tessaly::foundationString(failure.what())
                                                             forKey:NSLocalizedDescriptionKey];
            *error = [NSError errorWithDomain:SMAppServiceErrorDomain code:failure.code() userInfo:info];
        }
        return NO;
    } catch (const std::exception& failure) {
        if (error != nullptr) *error = tessaly::MacStandin::foundationError(failure.what());
        return NO;
    }
}

}  // namespace

NSString* const SMAppServiceErrorDomain = @"SMAppServiceErrorDomain";

@implementation SMAppService

+ (instancetype)agentServiceWithPlistName:(NSString*)plistName {
    SMAppService* service = [[[SMAppService alloc] init] autorelease];
    service->_plistName = [plistName copy];
    return service;
}

+ (void)openSystemSettingsLoginItems {
    if (tessaly::ServiceManagement* service = routed(nullptr)) service->openSystemSettingsLoginItems();
}

- (void)dealloc {
    [_plistName release];
    [super dealloc];
}

- (SMAppServiceStatus)status {
    tessaly::ServiceManagement* service = routed(nullptr);
    if (service == nullptr) return SMAppServiceStatusNotFound;
    return static_cast<SMAppServiceStatus>(service->status(tessaly::utf8(_plistName)));
}

- (BOOL)registerAndReturnError:(NSError**)error {
    const std::string name = tessaly::utf8(_plistName);
    return answer(error, [&](tessaly::ServiceManagement& service) { service.registerService(name); });
}

- (BOOL)unregisterAndReturnError:(NSError**)error {
    const std::string name = tessaly::utf8(_plistName);
    return answer(error, [&](tessaly::ServiceManagement& service) { service.unregisterService(name); });
}

@end
