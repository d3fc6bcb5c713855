#pragma once
// Stand-in for <ServiceManagement/SMAppService.h> on Linux (Objective-C++ only): the agent service
// with Apple's names, return types and availability for the members the Mac adapter uses.

#ifdef __OBJC__

#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

// The domain of SMAppService's errors, whose codes are those of SMErrors.h.
extern NSString* const SMAppServiceErrorDomain;

typedef NS_ENUM(NSInteger, SMAppServiceStatus) {
    SMAppServiceStatusNotRegistered = 0,
    SMAppServiceStatusEnabled = 1,
    SMAppServiceStatusRequiresApproval = 2,
    SMAppServiceStatusNotFound = 3,
} API_AVAILABLE(macos(13.0));

API_AVAILABLE(macos(13.0))
@interface SMAppService : NSObject {
    NSString* _plistName;
}
// Apple returns instancetype; the stand-in implementation declares SMAppService*, which GCC would
// call a conflict, and the two are the same type for this class.
+ (SMAppService*)agentServiceWithPlistName:(NSString*)plistName;
- (BOOL)registerAndReturnError:(NSError**)error;
- (BOOL)unregisterAndReturnError:(NSError**)error;
@property(readonly) SMAppServiceStatus status;
+ (void)openSystemSettingsLoginItems;
@end

NS_ASSUME_NONNULL_END

#endif  // __OBJC__
