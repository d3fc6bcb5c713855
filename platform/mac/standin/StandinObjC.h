#pragma once
// Objective-C++ only: what the stand-in's Objective-C classes share.

#import <Foundation/Foundation.h>

#include <string>

#include "mac/apple/FoundationText.h"

namespace tessaly::MacStandin {

/// A failed call's error as Foundation hands it out (autoreleased): `description` as its localized
/// description, and the POSIX error number under it when there is one.
inline NSError* foundationError(const std::string& description, int posixError = 0) {
    NSString* text = foundationString(description);
    if (text == nil) text = @"";  // a message naming a path that is not UTF-8
    NSMutableDictionary* info = [NSMutableDictionary dictionaryWithObject:text
                                                                   forKey:NSLocalizedDescriptionKey];
    if (posixError != 0) {
        [info setObject:[NSError errorWithDomain:NSPOSIXErrorDomain code:posixError userInfo:nil]
                 forKey:NSUnderlyingErrorKey];
    }
    return [NSError errorWithDomain:NSCocoaErrorDomain code:posixError == 0 ? 256 : 512 userInfo:info];
}

}  // namespace tessaly::MacStandin
