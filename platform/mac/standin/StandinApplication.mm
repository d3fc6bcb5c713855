// The shared application on Linux: its event loop is the routed main queue. Running it sends the
// delegate applicationDidFinishLaunching: on the loop's first turn; terminating it stops the loop,
// so that -run returns where a Mac would end the process.

#import <AppKit/AppKit.h>

#include "mac/standin/MacStandin.h"
#include "mac/standin/StandinRoutes.h"
#include "ports/RunLoop.h"

namespace {

int terminations = 0;

}  // namespace

@implementation NSApplication

+ (NSApplication*)sharedApplication {
    static NSApplication* shared = [[NSApplication alloc] init];
    return shared;
}

- (instancetype)init {
    self = [super init];
    if (self != nil) _activationPolicy = NSApplicationActivationPolicyProhibited;  // an unbundled process
    return self;
}

- (id<NSApplicationDelegate>)delegate {
    return _delegate;
}

- (void)setDelegate:(id<NSApplicationDelegate>)delegate {
    _delegate = delegate;
}

- (NSApplicationActivationPolicy)activationPolicy {
    return _activationPolicy;
}

- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy {
    _activationPolicy = activationPolicy;
    return YES;
}

- (void)finishLaunching {
    if ([_delegate respondsToSelector:@selector(applicationDidFinishLaunching:)]) {
        [_delegate applicationDidFinishLaunching:
                       [NSNotification notificationWithName:@"NSApplicationDidFinishLaunchingNotification"
                                                     object:self]];
    }
}

- (void)run {
    tessaly::RunLoop* loop = tessaly::MacStandin::routedMainQueue();
    if (loop == nullptr) return;
    NSApplication* application = self;
    loop->post([application] {
        NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
        [application finishLaunching];
        [pool drain];
    });
    loop->run();
}

- (void)terminate:(id)sender {
    (void)sender;
    ++terminations;
    if (tessaly::RunLoop* loop = tessaly::MacStandin::routedMainQueue()) loop->stop();
}

@end

namespace tessaly::MacStandin {

ApplicationState applicationState() {
    NSApplication* application = [NSApplication sharedApplication];
    return {static_cast<long>([application activationPolicy]), [application delegate] != nil, terminations};
}

}  // namespace tessaly::MacStandin
