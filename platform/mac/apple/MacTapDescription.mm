// The Objective-C side of process taps (compiled on a Mac only, with ARC): CATapDescription is an
// Objective-C object, toll-free a CFTypeRef, and AudioHardwareCreateProcessTap takes one. The
// helpers stay outside our namespace, where CATapDescription names Core Audio's class.

#include "mac/MacTapDescription.h"

#import <CoreAudio/AudioHardware.h>
#import <CoreAudio/CATapDescription.h>
#import <Foundation/Foundation.h>

namespace {

using Settings = tessaly::CATapDescription;

NSString* string(const std::string& text) {
    return [[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSUTF8StringEncoding];
}

std::string text(NSString* value) {
    return value == nil ? std::string() : std::string(value.UTF8String);
}

CATapDescription* makeObject(const Settings& settings) {
    NSMutableArray<NSNumber*>* processes = [NSMutableArray array];
    for (AudioObjectID process : settings.processes) [processes addObject:@(process)];
    CATapDescription* description = [[CATapDescription alloc] initStereoMixdownOfProcesses:processes];
    description.name = string(settings.name);
    description.mono = settings.isMono;
    description.mixdown = settings.isMixdown;
    description.exclusive = settings.isExclusive;
    description.privateTap = settings.isPrivate;
    description.muteBehavior = static_cast<CATapMuteBehavior>(settings.muteBehavior);
    NSMutableArray<NSString*>* bundleIDs = [NSMutableArray array];
    for (const std::string& bundleID : settings.bundleIDs) [bundleIDs addObject:string(bundleID)];
    description.bundleIDs = bundleIDs;
    description.processRestoreEnabled = settings.isProcessRestoreEnabled;
    if (settings.deviceUID) description.deviceUID = string(*settings.deviceUID);
    return description;
}

std::optional<Settings> settingsOf(CFTypeRef object) {
    id candidate = (__bridge id)object;
    if (![candidate isKindOfClass:[CATapDescription class]]) return std::nullopt;
    CATapDescription* description = candidate;
    Settings settings;
    settings.name = text(description.name);
    for (NSNumber* process in description.processes) settings.processes.push_back(process.unsignedIntValue);
    settings.isMono = description.isMono;
    settings.isMixdown = description.isMixdown;
    settings.isExclusive = description.isExclusive;
    settings.isPrivate = description.isPrivate;
    settings.muteBehavior = static_cast<tessaly::CATapMuteBehavior>(description.muteBehavior);
    for (NSString* bundleID in description.bundleIDs) settings.bundleIDs.push_back(text(bundleID));
    settings.isProcessRestoreEnabled = description.isProcessRestoreEnabled;
    if (description.deviceUID != nil) settings.deviceUID = text(description.deviceUID);
    return settings;
}

OSStatus createTap(const Settings& settings, AudioObjectID& outTapID) {
    AudioObjectID tap = kAudioObjectUnknown;
    const OSStatus status = AudioHardwareCreateProcessTap(makeObject(settings), &tap);
    if (status == 0) outTapID = tap;
    return status;
}

}  // namespace

namespace tessaly::MacTapDescription {

CFReference create(const CATapDescription& description) {
    return CFReference::adopt(CFBridgingRetain(makeObject(description)));
}

std::optional<CATapDescription> read(CFTypeRef object) {
    return settingsOf(object);
}

OSStatus createProcessTap(const CATapDescription& description, AudioObjectID& outTapID) {
    return createTap(description, outTapID);
}

}  // namespace tessaly::MacTapDescription
