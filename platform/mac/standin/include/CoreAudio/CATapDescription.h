#pragma once
// Stand-in for <CoreAudio/CATapDescription.h> on Linux (Objective-C++ only): the class with Apple's
// names and the members the Mac adapter uses. GCC does not parse Objective-C generics, so arrays are
// plain NSArray (Apple declares NSArray<NSNumber*>* and NSArray<NSString*>*).

#import <Foundation/Foundation.h>

typedef NS_ENUM(NSInteger, CATapMuteBehavior) {
    CATapUnmuted = 0,
    CATapMuted = 1,
    CATapMutedWhenTapped = 2,
};

@interface CATapDescription : NSObject {
    NSString* _name;
    NSArray* _processes;
    BOOL _mono;
    BOOL _exclusive;
    BOOL _mixdown;
    BOOL _privateTap;
    CATapMuteBehavior _muteBehavior;
    NSString* _deviceUID;
    NSArray* _bundleIDs;
    BOOL _processRestoreEnabled;
}
@property(copy) NSString* name;
@property(copy) NSArray* processes;
@property(getter=isMono) BOOL mono;
@property(getter=isExclusive) BOOL exclusive;
@property(getter=isMixdown) BOOL mixdown;
@property(getter=isPrivate) BOOL privateTap;
@property CATapMuteBehavior muteBehavior;
@property(copy) NSString* deviceUID;
@property(copy) NSArray* bundleIDs;
@property(getter=isProcessRestoreEnabled) BOOL processRestoreEnabled;

- (instancetype)initStereoMixdownOfProcesses:(NSArray*)processesObjectIDsToIncludeInTap;
@end
