#pragma once
// Objective-C++ only: text between our UTF-8 strings and Foundation's NSString.

#import <Foundation/Foundation.h>

#include <string>

namespace tessaly {

/// Foundation text as UTF-8; empty for nil.
inline std::string utf8(NSString* text) {
    const char* bytes = text == nil ? nullptr : [text UTF8String];
    return bytes == nullptr ? std::string() : std::string(bytes);
}

/// UTF-8 as Foundation text (autoreleased); nil when `text` is not UTF-8.
inline NSString* foundationString(const std::string& text) {
    return [[[NSString alloc] initWithBytes:text.data() length:text.size()
                                   encoding:NSUTF8StringEncoding] autorelease];
}

}  // namespace tessaly
