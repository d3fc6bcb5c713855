// NSApplication.

#include "mac/MacApplication.h"

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

#include "mac/apple/AutoreleasePool.h"

@interface TessalyApplicationDelegate : NSObject <NSApplicationDelegate> {
    tessaly::ApplicationDelegate* _delegate;
}
- (instancetype)initWithDelegate:(tessaly::ApplicationDelegate*)delegate;
@end

@implementation TessalyApplicationDelegate

- (instancetype)initWithDelegate:(tessaly::ApplicationDelegate*)delegate {
    self = [super init];
    if (self != nil) _delegate = delegate;
    return self;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    (void)notification;
    tessaly::AutoreleasePool pool;
    _delegate->applicationDidFinishLaunching();
}

@end

namespace tessaly {

void MacApplication::runAsAccessory(ApplicationDelegate& delegate) {
    AutoreleasePool pool;
    NSApplication* application = [NSApplication sharedApplication];
    [application setActivationPolicy:NSApplicationActivationPolicyAccessory];
    TessalyApplicationDelegate* forwarding = [[TessalyApplicationDelegate alloc] initWithDelegate:&delegate];
    [application setDelegate:forwarding];
    [application run];
    [application setDelegate:nil];
    [forwarding release];
}

void MacApplication::terminate() {
    AutoreleasePool pool;
    [[NSApplication sharedApplication] terminate:nil];
}

}  // namespace tessaly
