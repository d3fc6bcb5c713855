#pragma once
// The one owner of Core Foundation references in the Mac adapters. Create and Copy functions hand
// out a reference the caller owns (adopt it); Get functions hand out one it does not (retain it).

#include <CoreFoundation/CoreFoundation.h>

#include <utility>

namespace tessaly {

/// One owned reference to a Core Foundation object (or none); released when the owner ends.
class CFReference {
public:
    CFReference() = default;
    /// Takes over a reference the caller owns: the result of a Create or Copy function.
    static CFReference adopt(CFTypeRef owned) { return CFReference(owned); }
    /// Takes a reference of its own to an object it was only lent: the result of a Get function.
    static CFReference retain(CFTypeRef borrowed) {
        return CFReference(borrowed == nullptr ? nullptr : CFRetain(borrowed));
    }

    CFReference(CFReference&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    CFReference& operator=(CFReference&& other) noexcept {
        CFReference old(std::move(*this));
        object_ = std::exchange(other.object_, nullptr);
        return *this;
    }
    CFReference(const CFReference&) = delete;
    CFReference& operator=(const CFReference&) = delete;
    ~CFReference() {
        if (object_ != nullptr) CFRelease(object_);
    }

    CFTypeRef get() const { return object_; }
    /// The object as the Core Foundation type a call takes (CFStringRef, CFDictionaryRef...).
    template <typename Ref>
    Ref as() const {
        return static_cast<Ref>(object_);
    }
    /// Hands the reference to a caller that takes ownership of it (a Copy function's result).
    CFTypeRef release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    explicit CFReference(CFTypeRef object) : object_(object) {}

    CFTypeRef object_ = nullptr;
};

}  // namespace tessaly
