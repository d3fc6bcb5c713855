#pragma once
// Stand-in for <ServiceManagement/SMAppService.h> on Linux (Objective-C++ only): the agent service
// with Apple's names, return types and availability for the members the Mac adapter uses.

#ifdef __OBJC__

#import <Foundation/Foundation.h>

// An ownership qualifier clang knows in Objective-C, with or without ARC; GCC gets it as nothing.
#if !defined(__clang__) && !defined(__autoreleasing)
#define __autoreleasing
#endif

NS_ASSUME_NONNULL_BEGIN

typedef NS_ENUM(NSInteger, SMAppServiceStatus) {
    SMAppServiceStatusNotRegistered = 0,
    SMAppServiceStatusEnabled = 1,
    SMAppServiceStatusRequiresApproval = 2,
    SMAppServiceStatusNotFound = 3,
};

// The domain of SMAppService's errors, whose codes are those of SMErrors.h.
extern NSString* const SMAppServiceErrorDomain API_AVAILABLE(macos(15.0));

// Apple's class declares no instance variables; GCC's Objective-C needs the one its stand-in
// implementation keeps declared here.
API_AVAILABLE(macos(13.0))
@interface SMAppService : NSObject {
    NSString* _plistName;
}
+ (instancetype)agentServiceWithPlistName:(NSString*)plistName API_AVAILABLE(macos(13.0));
- (BOOL)registerAndReturnError:(NSError* _Nullable __autoreleasing* _Nullable)error
    API_AVAILABLE(macos(13.0));
- (BOOL)unregisterAndReturnError:(NSError* _Nullable __autoreleasing* _Nullable)error
    API_AVAILABLE(macos(13.0));
@property(readonly) SMAppServiceStatus status API_AVAILABLE(macos(13.0));
+ (void)openSystemSettingsLoginItems API_AVAILABLE(macos(13.0));
@end

NS_ASSUME_NONNULL_END

#endif  // __OBJC__
