#pragma once
// The stand-in's Core Foundation object: a type, a reference count and an equality; every object
// the stand-in makes is one of these, so CFRetain, CFRelease and CFEqual work on all of them.

#include <CoreFoundation/CoreFoundation.h>

#include <cstddef>

namespace tessaly::MacStandin {

/// The type ids the stand-in gives out.
enum StandinTypeID : CFTypeID {
    stringType = 7,
    numberType = 22,
    booleanType = 21,
    arrayType = 19,
    dictionaryType = 18,
    elementType = 100,
    tapDescriptionType = 101,
    observerType = 102,
    runLoopSourceType = 103,
    runLoopType = 104,
    dataType = 20,
    messagePortType = 35,
    urlType = 29,
    bundleType = 31,
};

class Object {
public:
    explicit Object(CFTypeID type) : type_(type) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    CFTypeID type() const { return type_; }
    /// CFEqual between two objects of this type.
    virtual bool equals(const Object& other) const { return this == &other; }
    /// CFHash: equal objects hash alike.
    virtual CFHashCode hash() const { return reinterpret_cast<CFHashCode>(this); }

    /// Called when the last reference goes: a container gives back the references it holds.
    virtual void dropContents() {}

    long references = 1;
    /// Statics such as kCFBooleanTrue: counted, never freed.
    bool immortal = false;

private:
    CFTypeID type_;
};

/// Registers a newly made object (one reference, the caller's).
void made(Object* object);
/// The object behind a reference, or null when it is null or of another type.
template <typename Type>
const Type* as(CFTypeRef reference, CFTypeID type) {
    auto object = static_cast<const Object*>(reference);
    return object != nullptr && object->type() == type ? static_cast<const Type*>(object) : nullptr;
}

/// Objective-C objects are toll-free bridged as on a Mac: a reference to one is the object itself.
/// The stand-in's Objective-C classes register each instance while it lives, with the messages that
/// CFRetain and CFRelease send it and the type CFGetTypeID answers; CFEqual and CFHash compare
/// identity. Such objects are counted apart (ReferenceCounts::objectiveCLive).
struct Bridge {
    CFTypeID type;
    void (*retain)(CFTypeRef object);
    void (*release)(CFTypeRef object);
};
void bridged(CFTypeRef object, const Bridge& bridge);
void unbridged(CFTypeRef object);
/// Whether `object` is one of those Objective-C objects (the stand-in's own Core Foundation objects,
/// unlike a Mac's, do not answer Objective-C messages).
bool isObjectiveC(CFTypeRef object);

/// A text object that is never freed, for the frameworks' string constants.
CFStringRef constantString(const char* text);

}  // namespace tessaly::MacStandin

/// A run-loop source: what it starts and stops when added to and removed from the main run loop.
struct __CFRunLoopSource : tessaly::MacStandin::Object {
    __CFRunLoopSource() : Object(tessaly::MacStandin::runLoopSourceType) {}
    virtual void addedToMainRunLoop() = 0;
    virtual void removedFromMainRunLoop() = 0;
};
