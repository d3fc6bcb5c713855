// The main bundle through NSBundle.

#include "mac/MacProcessEnvironment.h"

#import <Foundation/Foundation.h>

#include <unistd.h>

#include "mac/CFConversion.h"
#include "mac/apple/AutoreleasePool.h"

namespace tessaly {

MainBundle MacProcessEnvironment::mainBundle() const {
    AutoreleasePool pool;
    NSBundle* bundle = [NSBundle mainBundle];
    MainBundle result;
    if ([bundle bundleIdentifier] != nil) result.identifier = utf8([bundle bundleIdentifier]);
    result.path = utf8([bundle bundlePath]);
    NSDictionary* info = [bundle infoDictionary];
    NSArray* keys = [info allKeys];
    for (NSUInteger index = 0; index < keys.count; ++index) {
        NSString* key = [keys objectAtIndex:index];
        // NSDictionary is toll-free a CFDictionary; each value crosses on its own.
        auto value = CFConversion::value((CFTypeRef)[info objectForKey:key], nullptr);
        if (value) result.infoDictionary.insert_or_assign(utf8(key), std::move(*value));
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
