#pragma once
// Stand-in for <CoreAudio/CATapDescription.h> on Linux (Objective-C++ only): the class with Apple's
// names, accessors and availability for the members the Mac adapter uses. GCC does not parse
// Objective-C generics, so arrays are plain NSArray (Apple declares NSArray<NSNumber*>* and
// NSArray<NSString*>*); nor the nullable property attribute, so deviceUID carries _Nullable on its
// type instead. Apple's properties are atomic, the default.

#ifdef __OBJC__

#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

typedef NS_ENUM(NSInteger, CATapMuteBehavior) {
    CATapUnmuted = 0,
    CATapMuted = 1,
    CATapMutedWhenTapped = 2,
} API_AVAILABLE(macos(13.0));

API_AVAILABLE(macos(12.0))
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
- (instancetype)initStereoMixdownOfProcesses:(NSArray*)processesObjectIDsToIncludeInTap;

@property(copy) NSString* name;
@property(copy) NSArray* processes;
@property(copy) NSArray* bundleIDs API_AVAILABLE(macos(26.0));
@property(getter=isMono) BOOL mono;
@property(getter=isExclusive) BOOL exclusive;
@property(getter=isMixdown) BOOL mixdown;
@property(getter=isPrivate, setter=setPrivate:) BOOL privateTap;
@property(getter=isProcessRestoreEnabled) BOOL processRestoreEnabled API_AVAILABLE(macos(26.0));
@property(getter=isMuted) CATapMuteBehavior muteBehavior;
@property(copy) NSString* _Nullable deviceUID;
@end

NS_ASSUME_NONNULL_END

#endif  // __OBJC__
