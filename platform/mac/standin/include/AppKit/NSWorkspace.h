#pragma once
// Stand-in for <AppKit/NSWorkspace.h> on Linux (Objective-C++ only): the workspace with Apple's names
// and the members the Mac adapter uses. Apple declares sharedWorkspace as a class property, which
// GCC's Objective-C does not parse; the class method is what it declares.

#import <Foundation/Foundation.h>

@interface NSWorkspace : NSObject
+ (NSWorkspace*)sharedWorkspace;
- (BOOL)openURL:(NSURL*)url;
- (BOOL)selectFile:(NSString*)fullPath inFileViewerRootedAtPath:(NSString*)rootFullPath;
@end
