#pragma once
// Stand-in for <AppKit/NSApplication.h> on Linux (Objective-C++ only): the shared application and
// its delegate protocol, with Apple's names and the members the Mac adapter uses. Apple's class
// derives from NSResponder and declares sharedApplication as a class property; GNUstep's Foundation
// has no NSResponder and GCC does not parse class properties, so it derives from NSObject and the
// class method stands in. The delegate is not retained, as on a Mac (assign without ARC).

#import <AppKit/NSRunningApplication.h>
#import <Foundation/Foundation.h>

@class NSApplication;

@protocol NSApplicationDelegate <NSObject>
@optional
- (void)applicationDidFinishLaunching:(NSNotification*)notification;
@end

@interface NSApplication : NSObject {
    id<NSApplicationDelegate> _delegate;
    NSApplicationActivationPolicy _activationPolicy;
}
+ (NSApplication*)sharedApplication;
@property(assign) id<NSApplicationDelegate> delegate;
- (NSApplicationActivationPolicy)activationPolicy;
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
- (void)run;
- (void)terminate:(id)sender;
@end
