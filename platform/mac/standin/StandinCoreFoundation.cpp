// Core Foundation on Linux: strings, numbers, booleans, arrays and dictionaries with counted
// references. Objects whose references all went are kept (not freed) until the counts are reset,
// so that a release once too often is counted instead of touching freed memory.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mac/standin/MacStandin.h"
#include "mac/standin/StandinObject.h"
#include "mac/standin/StandinRoutes.h"
#include "ports/RunLoop.h"

using tessaly::MacStandin::as;
using tessaly::MacStandin::made;
using tessaly::MacStandin::Object;
namespace standin = tessaly::MacStandin;

namespace {

struct Registry {
    std::mutex mutex;
    standin::ReferenceCounts counts;
    std::vector<std::unique_ptr<Object>> released;
    struct Bridged {
        const standin::Bridge* bridge;
        bool sinceReset;
    };
    std::unordered_map<CFTypeRef, Bridged> bridged;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

// The bridge of an Objective-C object; null for the stand-in's own objects.
const standin::Bridge* bridgeOf(CFTypeRef cf) {
    Registry& state = registry();
    std::lock_guard lock(state.mutex);
    auto found = state.bridged.find(cf);
    return found == state.bridged.end() ? nullptr : found->second.bridge;
}

// Bytes of UTF-8 that start a UTF-16 surrogate pair (a character beyond the basic plane).
std::size_t utf16Length(const std::string& utf8) {
    std::size_t units = 0;
    for (unsigned char byte : utf8) {
        if ((byte & 0xC0) != 0x80) units += byte >= 0xF0 ? 2 : 1;
    }
    return units;
}

bool isUtf8(const std::string& bytes) {
    std::size_t index = 0;
    while (index < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[index]);
        std::size_t extra = 0;
        if (lead >= 0xF0 && lead < 0xF5) {
            extra = 3;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            extra = 2;
        } else if (lead >= 0xC2 && lead < 0xE0) {
            extra = 1;
        } else if (lead >= 0x80) {
            return false;
        }
        if (bytes.size() - index <= extra) return false;
        for (std::size_t next = 1; next <= extra; ++next) {
            if ((static_cast<unsigned char>(bytes[index + next]) & 0xC0) != 0x80) return false;
        }
        index += extra + 1;
    }
    return true;
}

}  // namespace

struct __CFString : Object {
    explicit __CFString(std::string bytes) : Object(standin::stringType), utf8(std::move(bytes)) {}
    bool equals(const Object& other) const override {
        return utf8 == static_cast<const __CFString&>(other).utf8;
    }
    CFHashCode hash() const override { return std::hash<std::string>{}(utf8); }
    std::string utf8;
};

struct __CFNumber : Object {
    explicit __CFNumber(double number) : Object(standin::numberType), value(number) {}
    bool equals(const Object& other) const override {
        return value == static_cast<const __CFNumber&>(other).value;
    }
    CFHashCode hash() const override { return std::hash<double>{}(value); }
    double value;
};

struct __CFBoolean : Object {
    explicit __CFBoolean(bool flag) : Object(standin::booleanType), value(flag) { immortal = true; }
    bool value;
};

struct __CFData : Object {
    explicit __CFData(std::string data) : Object(standin::dataType), bytes(std::move(data)) {}
    bool equals(const Object& other) const override {
        return bytes == static_cast<const __CFData&>(other).bytes;
    }
    CFHashCode hash() const override { return std::hash<std::string>{}(bytes); }
    std::string bytes;
};

struct __CFArray : Object {
    __CFArray() : Object(standin::arrayType) {}
    void dropContents() override {
        for (const void* value : std::exchange(values, {})) CFRelease(value);
    }
    bool equals(const Object& other) const override {
        const auto& that = static_cast<const __CFArray&>(other);
        return std::equal(values.begin(), values.end(), that.values.begin(), that.values.end(), CFEqual);
    }
    CFHashCode hash() const override { return values.size(); }
    std::vector<const void*> values;  // each holds one reference of the array's
};

struct __CFDictionary : Object {
    __CFDictionary() : Object(standin::dictionaryType) {}
    void dropContents() override {
        for (const auto& [key, value] : std::exchange(entries, {})) {
            CFRelease(key);
            CFRelease(value);
        }
    }
    const void* find(const void* key) const {
        for (const auto& [existing, value] : entries) {
            if (CFEqual(existing, key)) return value;
        }
        return nullptr;
    }
    bool equals(const Object& other) const override {
        const auto& that = static_cast<const __CFDictionary&>(other);
        if (entries.size() != that.entries.size()) return false;
        return std::all_of(entries.begin(), entries.end(), [&](const auto& entry) {
            const void* value = that.find(entry.first);
            return value != nullptr && CFEqual(value, entry.second);
        });
    }
    CFHashCode hash() const override { return entries.size(); }
    std::vector<std::pair<const void*, const void*>> entries;
};

namespace tessaly::MacStandin {

void made(Object*) {
    Registry& state = registry();
    std::lock_guard lock(state.mutex);
    ++state.counts.made;
    ++state.counts.live;
}

ReferenceCounts referenceCounts() {
    Registry& state = registry();
    std::lock_guard lock(state.mutex);
    ReferenceCounts counts = state.counts;
    counts.objectiveCLive = std::count_if(state.bridged.begin(), state.bridged.end(),
                                          [](const auto& entry) { return entry.second.sinceReset; });
    return counts;
}

void bridged(CFTypeRef object, const Bridge& bridge) {
    Registry& state = registry();
    std::lock_guard lock(state.mutex);
    state.bridged.insert_or_assign(object, Registry::Bridged{&bridge, true});
}

bool isObjectiveC(CFTypeRef object) {
    return bridgeOf(object) != nullptr;
}

void unbridged(CFTypeRef object) {
    Registry& state = registry();
    std::lock_guard lock(state.mutex);
    state.bridged.erase(object);
}

CFStringRef constantString(const char* text) {
    auto string = new __CFString(text);
    string->immortal = true;
    return string;
}

void resetReferenceCounts() {
    std::vector<std::unique_ptr<Object>> released;
    {
        Registry& state = registry();
        std::lock_guard lock(state.mutex);
        state.counts = {};
        released.swap(state.released);
        for (auto& entry : state.bridged) entry.second.sinceReset = false;
    }
}

}  // namespace tessaly::MacStandin

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFArrayCallBacks kCFTypeArrayCallBacks = {0, nullptr, nullptr, nullptr, CFEqual};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0,       nullptr, nullptr,
                                                                nullptr, CFEqual, CFHash};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, nullptr, nullptr, nullptr, CFEqual};

namespace {
__CFBoolean trueObject{true};
__CFBoolean falseObject{false};
}  // namespace
const CFBooleanRef kCFBooleanTrue = &trueObject;
const CFBooleanRef kCFBooleanFalse = &falseObject;

CFTypeRef CFRetain(CFTypeRef cf) {
    if (auto bridge = bridgeOf(cf)) {
        bridge->retain(cf);
        return cf;
    }
    auto object = const_cast<Object*>(static_cast<const Object*>(cf));
    Registry& state = registry();
    std::lock_guard lock(state.mutex);
    ++state.counts.retained;
    ++object->references;
    return cf;
}

void CFRelease(CFTypeRef cf) {
    if (auto bridge = bridgeOf(cf)) return bridge->release(cf);
    auto object = const_cast<Object*>(static_cast<const Object*>(cf));
    Registry& state = registry();
    std::unique_lock lock(state.mutex);
    ++state.counts.released;
    if (object->references <= (object->immortal ? 1 : 0)) {
        ++state.counts.overReleased;
        return;
    }
    if (--object->references > 0 || object->immortal) return;
    --state.counts.live;
    state.released.emplace_back(object);
    // A container gives back what it holds; those releases take the lock again.
    lock.unlock();
    object->dropContents();
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
    if (auto bridge = bridgeOf(cf)) return bridge->type;
    return static_cast<const Object*>(cf)->type();
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
    if (bridgeOf(cf1) != nullptr || bridgeOf(cf2) != nullptr) return cf1 == cf2;
    auto a = static_cast<const Object*>(cf1);
    auto b = static_cast<const Object*>(cf2);
    return a == b || (a->type() == b->type() && a->equals(*b));
}

CFHashCode CFHash(CFTypeRef cf) {
    if (bridgeOf(cf) != nullptr) return reinterpret_cast<CFHashCode>(cf);
    return static_cast<const Object*>(cf)->hash();
}

// Strings.

CFTypeID CFStringGetTypeID(void) {
    return standin::stringType;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean) {
    std::string text(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(numBytes));
    if (encoding != kCFStringEncodingUTF8 || !isUtf8(text)) return nullptr;
    auto string = new __CFString(std::move(text));
    made(string);
    return string;
}

CFIndex CFStringGetLength(CFStringRef theString) {
    return static_cast<CFIndex>(utf16Length(theString->utf8));
}

// Only whole strings are converted here: that is all the adapters ask for.
CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding, UInt8, Boolean,
                         UInt8* buffer, CFIndex maxBufLen, CFIndex* usedBufLen) {
    const std::string& text = theString->utf8;
    const auto byteCount = static_cast<CFIndex>(text.size());
    const bool whole = range.location == 0 && range.length == CFStringGetLength(theString);
    if (encoding != kCFStringEncodingUTF8 || !whole || (buffer != nullptr && maxBufLen < byteCount)) {
        if (usedBufLen != nullptr) *usedBufLen = 0;
        return 0;
    }
    if (buffer != nullptr) std::memcpy(buffer, text.data(), text.size());
    if (usedBufLen != nullptr) *usedBufLen = byteCount;
    return range.length;
}

// Numbers and booleans.

CFTypeID CFNumberGetTypeID(void) {
    return standin::numberType;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
    double value = 0;
    switch (theType) {
        case kCFNumberSInt32Type:
            value = *static_cast<const std::int32_t*>(valuePtr);
            break;
        case kCFNumberSInt64Type:
            value = static_cast<double>(*static_cast<const std::int64_t*>(valuePtr));
            break;
        case kCFNumberDoubleType:
            value = *static_cast<const double*>(valuePtr);
            break;
        default:
            return nullptr;
    }
    auto number = new __CFNumber(value);
    made(number);
    return number;
}

// The adapters read numbers as doubles only.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
    const double value = number->value;
    switch (theType) {
        case kCFNumberDoubleType:
            *static_cast<double*>(valuePtr) = value;
            return true;
        default:
            return false;
    }
}

CFTypeID CFBooleanGetTypeID(void) {
    return standin::booleanType;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
    return boolean->value;
}

// Data.

CFTypeID CFDataGetTypeID(void) {
    return standin::dataType;
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length) {
    auto data =
        new __CFData(std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length)));
    made(data);
    return data;
}

CFIndex CFDataGetLength(CFDataRef theData) {
    return static_cast<CFIndex>(theData->bytes.size());
}

const UInt8* CFDataGetBytePtr(CFDataRef theData) {
    return reinterpret_cast<const UInt8*>(theData->bytes.data());
}

// Arrays and dictionaries take references of their own when given the CFType call-backs.

CFTypeID CFArrayGetTypeID(void) {
    return standin::arrayType;
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex numValues,
                         const CFArrayCallBacks* callBacks) {
    if (callBacks != &kCFTypeArrayCallBacks) return nullptr;
    auto array = new __CFArray();
    for (CFIndex index = 0; index < numValues; ++index) array->values.push_back(CFRetain(values[index]));
    made(array);
    return array;
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
    return static_cast<CFIndex>(theArray->values.size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
    return theArray->values.at(static_cast<std::size_t>(idx));
}

CFTypeID CFDictionaryGetTypeID(void) {
    return standin::dictionaryType;
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex numValues,
                                   const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
    if (keyCallBacks != &kCFTypeDictionaryKeyCallBacks ||
        valueCallBacks != &kCFTypeDictionaryValueCallBacks) {
        return nullptr;
    }
    auto dictionary = new __CFDictionary();
    for (CFIndex index = 0; index < numValues; ++index) {
        // A repeated key keeps its last value, as CFDictionarySetValue would.
        auto same = std::find_if(dictionary->entries.begin(), dictionary->entries.end(),
                                 [&](const auto& entry) { return CFEqual(entry.first, keys[index]); });
        if (same != dictionary->entries.end()) {
            CFRelease(same->second);
            same->second = CFRetain(values[index]);
            continue;
        }
        dictionary->entries.emplace_back(CFRetain(keys[index]), CFRetain(values[index]));
    }
    made(dictionary);
    return dictionary;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) {
    return static_cast<CFIndex>(theDict->entries.size());
}

const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
    return theDict->find(key);
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void** keys, const void** values) {
    std::size_t index = 0;
    for (const auto& [key, value] : theDict->entries) {
        if (keys != nullptr) keys[index] = key;
        if (values != nullptr) values[index] = value;
        ++index;
    }
}

// The main run loop holds a reference to each source added to it.

const CFRunLoopMode kCFRunLoopDefaultMode = standin::constantString("kCFRunLoopDefaultMode");
const CFRunLoopMode kCFRunLoopCommonModes = standin::constantString("kCFRunLoopCommonModes");

struct __CFRunLoop : Object {
    __CFRunLoop() : Object(standin::runLoopType) { immortal = true; }
    std::vector<CFRunLoopSourceRef> sources;
};

CFRunLoopRef CFRunLoopGetMain(void) {
    static __CFRunLoop main;
    return &main;
}

// Another thread's run loop; the stand-in runs only the main one.
CFRunLoopRef CFRunLoopGetCurrent(void) {
    static __CFRunLoop other;
    tessaly::RunLoop* main = standin::routedMainQueue();
    return main != nullptr && main->isMainThread() ? CFRunLoopGetMain() : &other;
}

void CFRunLoopRun(void) {
    standin::routedMainQueue()->run();
}

void CFRunLoopStop(CFRunLoopRef rl) {
    if (rl == CFRunLoopGetMain()) standin::routedMainQueue()->stop();
}

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode) {
    if (std::find(rl->sources.begin(), rl->sources.end(), source) != rl->sources.end()) return;
    CFRetain(source);
    rl->sources.push_back(source);
    source->addedToMainRunLoop();
}

void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode) {
    auto found = std::find(rl->sources.begin(), rl->sources.end(), source);
    if (found == rl->sources.end()) return;
    rl->sources.erase(found);
    source->removedFromMainRunLoop();
    CFRelease(source);
}
}
