#pragma once
// Objective-C++ only. The Objective-C pieces are written with manual reference counting, in the
// part of the language that both clang on a Mac and GCC with GNUstep compile: no ARC, blocks,
// literals, subscripts, generics or fast enumeration. Each call from C++ drains what it
// autoreleased before it returns, whatever thread it runs on.

#import <Foundation/Foundation.h>

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

}  // namespace tessaly
