// The main bundle through NSBundle (Objective-C++ with ARC; compiled on a Mac only).

#include "mac/MacProcessEnvironment.h"

#import <Foundation/Foundation.h>

#include <unistd.h>

#include "mac/CFConversion.h"

namespace tessaly {

MainBundle MacProcessEnvironment::mainBundle() const {
    NSBundle* bundle = [NSBundle mainBundle];
    MainBundle result;
    if (bundle.bundleIdentifier != nil) result.identifier = bundle.bundleIdentifier.UTF8String;
    result.path = bundle.bundlePath.UTF8String;
    NSDictionary* info = bundle.infoDictionary;
    for (NSString* key in info) {
        // NSDictionary is toll-free a CFDictionary; each value crosses on its own.
        auto value = CFConversion::value((__bridge CFTypeRef)info[key], nullptr);
        if (value) result.infoDictionary.insert_or_assign(key.UTF8String, std::move(*value));
    }
    return result;
}

ProcessID MacProcessEnvironment::processID() const {
    return getpid();
}

ProcessID MacProcessEnvironment::parentProcessID() const {
    return getppid();
}

std::uint32_t MacProcessEnvironment::userID() const {
    return getuid();
}

}  // namespace tessaly
