#pragma once
// Stand-in for <AppKit/NSRunningApplication.h> on Linux (Objective-C++ only): the running
// applications and the activation policies, which Apple declares here.

#import <AppKit/NSWorkspace.h>
#import <Foundation/Foundation.h>

#include <sys/types.h>

typedef NS_ENUM(NSInteger, NSApplicationActivationPolicy) {
    NSApplicationActivationPolicyRegular,
    NSApplicationActivationPolicyAccessory,
    NSApplicationActivationPolicyProhibited,
};

@interface NSRunningApplication : NSObject {
    pid_t _processIdentifier;
    NSString* _bundleIdentifier;
}
+ (NSArray*)runningApplicationsWithBundleIdentifier:(NSString*)bundleIdentifier;
@property(readonly) pid_t processIdentifier;
@property(readonly, copy) NSString* bundleIdentifier;
@end
