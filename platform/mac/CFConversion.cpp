#include "mac/CFConversion.h"

#include <string>
#include <vector>

#include "mac/MacTapDescription.h"
#include "values/CATapDescription.h"

namespace tessaly::CFConversion {

namespace {

CFReference createText(const std::string& text) {
    return CFReference::adopt(
        CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

CFReference createArray(const CFArray& array, CFElementTable* elements) {
    // The parts stay owned here until the array has taken references of its own.
    std::vector<CFReference> parts;
    std::vector<const void*> objects;
    for (const CFValue& entry : array) {
        parts.push_back(create(entry, elements));
        if (!parts.back()) return {};
        objects.push_back(parts.back().get());
    }
    return CFReference::adopt(CFArrayCreate(kCFAllocatorDefault, objects.data(),
                                            static_cast<CFIndex>(objects.size()), &kCFTypeArrayCallBacks));
}

CFReference createDictionary(const CFDictionary& dictionary, CFElementTable* elements) {
    std::vector<CFReference> parts;
    std::vector<const void*> keys;
    std::vector<const void*> values;
    for (const auto& [key, entry] : dictionary) {
        parts.push_back(createText(key));
        if (!parts.back()) return {};
        keys.push_back(parts.back().get());
        parts.push_back(create(entry, elements));
        if (!parts.back()) return {};
        values.push_back(parts.back().get());
    }
    return CFReference::adopt(
        CFDictionaryCreate(kCFAllocatorDefault, keys.data(), values.data(), static_cast<CFIndex>(keys.size()),
                           &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
}

std::optional<std::string> textOf(CFStringRef string) {
    const CFRange whole = CFRangeMake(0, CFStringGetLength(string));
    CFIndex byteCount = 0;
    CFStringGetBytes(string, whole, kCFStringEncodingUTF8, 0, false, nullptr, 0, &byteCount);
    std::string text(static_cast<std::size_t>(byteCount), '\0');
    CFIndex written = 0;
    const CFIndex converted = CFStringGetBytes(string, whole, kCFStringEncodingUTF8, 0, false,
                                               reinterpret_cast<UInt8*>(text.data()), byteCount, &written);
    if (converted != whole.length || written != byteCount) return std::nullopt;
    return text;
}

std::optional<CFValue> arrayOf(CFArrayRef array, CFElementTable* elements) {
    CFArray result;
    const CFIndex count = CFArrayGetCount(array);
    for (CFIndex index = 0; index < count; ++index) {
        auto entry = value(CFArrayGetValueAtIndex(array, index), elements);
        if (!entry) return std::nullopt;
        result.push_back(std::move(*entry));
    }
    return CFValue(std::move(result));
}

std::optional<CFValue> dictionaryOf(CFDictionaryRef dictionary, CFElementTable* elements) {
    const auto count = static_cast<std::size_t>(CFDictionaryGetCount(dictionary));
    std::vector<const void*> keys(count);
    std::vector<const void*> values(count);
    CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
    CFDictionary result;
    for (std::size_t index = 0; index < count; ++index) {
        if (CFGetTypeID(keys[index]) != CFStringGetTypeID()) return std::nullopt;
        auto key = textOf(static_cast<CFStringRef>(keys[index]));
        auto entry = value(values[index], elements);
        if (!key || !entry) return std::nullopt;
        result.insert_or_assign(std::move(*key), std::move(*entry));
    }
    return CFValue(std::move(result));
}

}  // namespace

CFReference create(const CFValue& value, CFElementTable* elements) {
    if (auto text = value.text()) return createText(*text);
    if (auto number = value.number()) {
        return CFReference::adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, number));
    }
    if (auto flag = value.boolean()) return CFReference::retain(*flag ? kCFBooleanTrue : kCFBooleanFalse);
    if (auto array = value.array()) return createArray(*array, elements);
    if (auto dictionary = value.dictionary()) return createDictionary(*dictionary, elements);
    if (auto element = value.element())
        return elements == nullptr ? CFReference() : elements->object(*element);
    if (auto description = value.tapDescription()) return MacTapDescription::create(*description);
    return {};
}

std::optional<CFValue> value(CFTypeRef object, CFElementTable* elements) {
    if (object == nullptr) return std::nullopt;
    const CFTypeID type = CFGetTypeID(object);
    if (type == CFStringGetTypeID()) {
        auto text = textOf(static_cast<CFStringRef>(object));
        return text ? std::optional<CFValue>(std::move(*text)) : std::nullopt;
    }
    if (type == CFNumberGetTypeID()) {
        double number = 0;
        // A 64-bit integer beyond 2^53 comes back rounded, as the closest double.
        CFNumberGetValue(static_cast<CFNumberRef>(object), kCFNumberDoubleType, &number);
        return CFValue(number);
    }
    if (type == CFBooleanGetTypeID())
        return CFValue(CFBooleanGetValue(static_cast<CFBooleanRef>(object)) != 0);
    if (type == CFArrayGetTypeID()) return arrayOf(static_cast<CFArrayRef>(object), elements);
    if (type == CFDictionaryGetTypeID()) return dictionaryOf(static_cast<CFDictionaryRef>(object), elements);
    if (elements != nullptr) {
        if (auto element = elements->element(object)) return CFValue(*element);
    }
    if (auto description = MacTapDescription::read(object)) return CFValue(std::move(*description));
    return std::nullopt;
}

}  // namespace tessaly::CFConversion
