// Core Audio's tap description on Linux: an Objective-C class that holds the settings, toll-free
// bridged like Apple's, and AudioHardwareCreateProcessTap routed into the simulated Core Audio.

#import <CoreAudio/AudioHardware.h>
#import <CoreAudio/AudioHardwareTapping.h>
#import <CoreAudio/CATapDescription.h>

#include "mac/MacTapDescription.h"
#include "mac/standin/StandinObject.h"
#include "mac/standin/StandinRoutes.h"
#include "ports/CoreAudio.h"

// The setters GCC synthesizes leave their parameter unused.
#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace {

void retainObject(CFTypeRef object) {
    [(id)object retain];
}

void releaseObject(CFTypeRef object) {
    [(id)object release];
}

const tessaly::MacStandin::Bridge tapDescriptionBridge{tessaly::MacStandin::tapDescriptionType, retainObject,
                                                       releaseObject};

}  // namespace

@implementation CATapDescription

@synthesize name = _name;
@synthesize processes = _processes;
@synthesize mono = _mono;
@synthesize exclusive = _exclusive;
@synthesize mixdown = _mixdown;
@synthesize privateTap = _privateTap;
@synthesize muteBehavior = _muteBehavior;
@synthesize deviceUID = _deviceUID;
@synthesize bundleIDs = _bundleIDs;
@synthesize processRestoreEnabled = _processRestoreEnabled;

- (instancetype)initStereoMixdownOfProcesses:(NSArray*)processesObjectIDsToIncludeInTap {
    self = [super init];
    if (self == nil) return nil;
    _name = [@"" copy];
    _processes = [processesObjectIDsToIncludeInTap copy];
    _mixdown = YES;
    _bundleIDs = [[NSArray alloc] init];
    tessaly::MacStandin::bridged((CFTypeRef)self, tapDescriptionBridge);
    return self;
}

- (void)dealloc {
    tessaly::MacStandin::unbridged((CFTypeRef)self);
    [_name release];
    [_processes release];
    [_deviceUID release];
    [_bundleIDs release];
    [super dealloc];
}

@end

OSStatus AudioHardwareCreateProcessTap(CATapDescription* inDescription, AudioObjectID* outTapID) {
    tessaly::CoreAudio* audio = tessaly::MacStandin::routedCoreAudio();
    if (audio == nullptr) return static_cast<OSStatus>(tessaly::fourCharCode("stop"));
    auto settings = tessaly::MacTapDescription::read((CFTypeRef)inDescription);
    if (!settings || outTapID == nullptr) return static_cast<OSStatus>(tessaly::fourCharCode("nope"));
    return audio->AudioHardwareCreateProcessTap(*settings, *outTapID);
}

OSStatus AudioHardwareDestroyProcessTap(AudioObjectID inTapID) {
    tessaly::CoreAudio* audio = tessaly::MacStandin::routedCoreAudio();
    if (audio == nullptr) return static_cast<OSStatus>(tessaly::fourCharCode("stop"));
    return audio->AudioHardwareDestroyProcessTap(inTapID);
}
