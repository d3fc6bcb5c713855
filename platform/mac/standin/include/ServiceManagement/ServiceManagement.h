#pragma once
// Stand-in for <ServiceManagement/ServiceManagement.h> on Linux (Objective-C++ only): the agent
// service with Apple's names and the members the Mac adapter uses.

#import <Foundation/Foundation.h>

// The domain of SMAppService's errors, whose codes are those of SMErrors.h.
extern NSString* const SMAppServiceErrorDomain;

typedef NS_ENUM(NSInteger, SMAppServiceStatus) {
    SMAppServiceStatusNotRegistered = 0,
    SMAppServiceStatusEnabled = 1,
    SMAppServiceStatusRequiresApproval = 2,
    SMAppServiceStatusNotFound = 3,
};

@interface SMAppService : NSObject {
    NSString* _plistName;
}
+ (SMAppService*)agentServiceWithPlistName:(NSString*)plistName;
+ (void)openSystemSettingsLoginItems;
- (BOOL)registerAndReturnError:(NSError**)error;
- (BOOL)unregisterAndReturnError:(NSError**)error;
@property(readonly) SMAppServiceStatus status;
@end
