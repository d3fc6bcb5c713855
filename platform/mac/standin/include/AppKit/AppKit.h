#pragma once
// Stand-in for <AppKit/AppKit.h> on Linux (Objective-C++ only): the workspace classes with Apple's
// names and the members the Mac adapter uses. Apple declares sharedWorkspace as a class property.

#import <Foundation/Foundation.h>

#include <sys/types.h>

@interface NSRunningApplication : NSObject {
    pid_t _processIdentifier;
    NSString* _bundleIdentifier;
}
+ (NSArray*)runningApplicationsWithBundleIdentifier:(NSString*)bundleIdentifier;
@property(readonly) pid_t processIdentifier;
@property(readonly, copy) NSString* bundleIdentifier;
@end

@interface NSWorkspace : NSObject
+ (NSWorkspace*)sharedWorkspace;
- (BOOL)openURL:(NSURL*)url;
- (BOOL)selectFile:(NSString*)fullPath inFileViewerRootedAtPath:(NSString*)rootFullPath;
@end
