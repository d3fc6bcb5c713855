// Service Management's agent services (Objective-C++ with ARC; compiled on a Mac only).

#include "mac/MacServiceManagement.h"

#import <Foundation/Foundation.h>
#import <ServiceManagement/ServiceManagement.h>

#include "foundation/TessalyError.h"

namespace tessaly {

namespace {

SMAppService* agent(const std::string& plistName) {
    return [SMAppService agentServiceWithPlistName:[NSString stringWithUTF8String:plistName.c_str()]];
}

[[noreturn]] void fail(NSError* error) {
    throw TessalyError(error.localizedDescription.UTF8String);
}

}  // namespace

int MacServiceManagement::status(const std::string& plistName) {
    return static_cast<int>(agent(plistName).status);
}

void MacServiceManagement::registerService(const std::string& plistName) {
    NSError* error = nil;
    if (![agent(plistName) registerAndReturnError:&error]) fail(error);
}

void MacServiceManagement::unregisterService(const std::string& plistName) {
    dispatch_semaphore_t done = dispatch_semaphore_create(0);
    __block NSError* failure = nil;
    [agent(plistName) unregisterWithCompletionHandler:^(NSError* error) {
      failure = error;
      dispatch_semaphore_signal(done);
    }];
    dispatch_semaphore_wait(done, DISPATCH_TIME_FOREVER);
    if (failure != nil) fail(failure);
}

void MacServiceManagement::openSystemSettingsLoginItems() {
    [SMAppService openSystemSettingsLoginItems];
}

}  // namespace tessaly
