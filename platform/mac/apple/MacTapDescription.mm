// The Objective-C side of process taps: CATapDescription is an Objective-C object, toll-free a
// CFTypeRef, and AudioHardwareCreateProcessTap takes one; Apple declares both tap calls for
// Objective-C only. The helpers stay outside our namespace,
// where CATapDescription names Core Audio's class.

#include "mac/MacTapDescription.h"

#import <CoreAudio/AudioHardware.h>
#import <CoreAudio/AudioHardwareTapping.h>
#import <CoreAudio/CATapDescription.h>
#import <Foundation/Foundation.h>

#include "mac/apple/AutoreleasePool.h"
#include "mac/apple/FoundationText.h"

#ifdef GNUSTEP
#include "mac/standin/StandinObject.h"
#endif

namespace {

using Settings = tessaly::CATapDescription;
using tessaly::foundationString;
using tessaly::utf8;

// A new description (one reference, the caller's).
CATapDescription* newObject(const Settings& settings) {
    NSMutableArray* processes = [NSMutableArray arrayWithCapacity:settings.processes.size()];
    for (AudioObjectID process : settings.processes)
        [processes addObject:[NSNumber numberWithUnsignedInt:process]];
    CATapDescription* description = [[CATapDescription alloc] initStereoMixdownOfProcesses:processes];
    description.name = foundationString(settings.name);
    description.mono = settings.isMono;
    description.mixdown = settings.isMixdown;
    description.exclusive = settings.isExclusive;
    description.privateTap = settings.isPrivate;
    description.muteBehavior = static_cast<CATapMuteBehavior>(settings.muteBehavior);
    NSMutableArray* bundleIDs = [NSMutableArray arrayWithCapacity:settings.bundleIDs.size()];
    for (const std::string& bundleID : settings.bundleIDs) {
        NSString* text = foundationString(bundleID);
        if (text != nil) [bundleIDs addObject:text];
    }
    description.bundleIDs = bundleIDs;
    description.processRestoreEnabled = settings.isProcessRestoreEnabled;
    if (settings.deviceUID) description.deviceUID = foundationString(*settings.deviceUID);
    return description;
}

std::optional<Settings> settingsOf(CFTypeRef object) {
#ifdef GNUSTEP
    // On a Mac every Core Foundation object answers Objective-C messages; the stand-in's do not.
    if (!tessaly::MacStandin::isObjectiveC(object)) return std::nullopt;
#endif
    id candidate = (id)object;
    if (candidate == nil || ![candidate isKindOfClass:[CATapDescription class]]) return std::nullopt;
    CATapDescription* description = candidate;
    Settings settings;
    settings.name = utf8(description.name);
    NSArray* processes = description.processes;
    for (NSUInteger index = 0; index < processes.count; ++index) {
        settings.processes.push_back([[processes objectAtIndex:index] unsignedIntValue]);
    }
    settings.isMono = description.isMono;
    settings.isMixdown = description.isMixdown;
    settings.isExclusive = description.isExclusive;
    settings.isPrivate = description.isPrivate;
    settings.muteBehavior = static_cast<tessaly::CATapMuteBehavior>(description.muteBehavior);
    NSArray* bundleIDs = description.bundleIDs;
    for (NSUInteger index = 0; index < bundleIDs.count; ++index) {
        settings.bundleIDs.push_back(utf8([bundleIDs objectAtIndex:index]));
    }
    settings.isProcessRestoreEnabled = description.isProcessRestoreEnabled;
    if (description.deviceUID != nil) settings.deviceUID = utf8(description.deviceUID);
    return settings;
}

}  // namespace

namespace tessaly::MacTapDescription {

CFReference create(const CATapDescription& description) {
    AutoreleasePool pool;
    // Toll-free bridged: the reference from alloc is the caller's Core Foundation reference.
    return CFReference::adopt((CFTypeRef)newObject(description));
}

std::optional<CATapDescription> read(CFTypeRef object) {
    AutoreleasePool pool;
    return settingsOf(object);
}

OSStatus createProcessTap(const CATapDescription& description, AudioObjectID& outTapID) {
    AutoreleasePool pool;
    ::CATapDescription* object = newObject(description);
    AudioObjectID tap = kAudioObjectUnknown;
    const OSStatus status = AudioHardwareCreateProcessTap(object, &tap);
    [object release];
    if (status == 0) outTapID = tap;
    return status;
}

OSStatus destroyProcessTap(AudioObjectID tapID) {
    return AudioHardwareDestroyProcessTap(tapID);
}

}  // namespace tessaly::MacTapDescription
