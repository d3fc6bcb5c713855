#pragma once
// Objective-C++ only. The Objective-C pieces are written with manual reference counting, in the
// part of the language that both clang on a Mac and GCC with GNUstep compile: no ARC, blocks,
// literals, subscripts, generics or fast enumeration. Each call from C++ drains what it
// autoreleased before it returns, whatever thread it runs on.

#import <Foundation/Foundation.h>

#include <string>

namespace tessaly {

class AutoreleasePool {
public:
    AutoreleasePool() : pool([[NSAutoreleasePool alloc] init]) {}
    ~AutoreleasePool() { [pool drain]; }
    AutoreleasePool(const AutoreleasePool&) = delete;
    AutoreleasePool& operator=(const AutoreleasePool&) = delete;

private:
    NSAutoreleasePool* pool;
};

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
