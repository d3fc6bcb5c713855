#include "session/SessionFrame.h"

#include <bit>
#include <cstring>

#include "foundation/DecodingError.h"
#include "foundation/Utf8.h"

namespace tessaly::SessionFrame {

namespace {

// The type byte of each kind of Core Foundation value.
enum ValueType : std::uint8_t {
    textType = 1,
    numberType = 2,
    booleanType = 3,
    arrayType = 4,
    dictionaryType = 5,
    elementType = 6,
    tapType = 7,
};

// Marks an optional value as present or absent.
constexpr std::uint8_t absent = 0;
constexpr std::uint8_t present = 1;

}  // namespace

Writer& Writer::u8(std::uint8_t value) {
    bytes_.push_back(static_cast<char>(value));
    return *this;
}

Writer& Writer::u32(std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) u8(static_cast<std::uint8_t>(value >> shift));
    return *this;
}

Writer& Writer::u64(std::uint64_t value) {
    u32(static_cast<std::uint32_t>(value >> 32));
    return u32(static_cast<std::uint32_t>(value));
}

Writer& Writer::f64(double value) {
    return u64(std::bit_cast<std::uint64_t>(value));
}

Writer& Writer::text(std::string_view value) {
    u32(static_cast<std::uint32_t>(value.size()));
    bytes_.append(value);
    return *this;
}

Writer& Writer::texts(const std::vector<std::string>& values) {
    u32(static_cast<std::uint32_t>(values.size()));
    for (const auto& value : values) text(value);
    return *this;
}

Writer& Writer::ids(const std::vector<std::uint32_t>& values) {
    u32(static_cast<std::uint32_t>(values.size()));
    for (std::uint32_t value : values) u32(value);
    return *this;
}

Writer& Writer::value(const CFValue& value) {
    if (const auto* text = value.text()) return u8(textType).text(*text);
    if (const auto* number = value.number()) return u8(numberType).f64(*number);
    if (const auto* flag = value.boolean()) return u8(booleanType).boolean(*flag);
    if (const auto* array = value.array()) {
        u8(arrayType).u32(static_cast<std::uint32_t>(array->size()));
        for (const auto& element : *array) this->value(element);
        return *this;
    }
    if (const auto* members = value.dictionary()) {
        u8(dictionaryType);
        return dictionary(*members);
    }
    if (const auto* element = value.element()) return u8(elementType).u64(element->identity());
    return u8(tapType).tap(*value.tapDescription());
}

Writer& Writer::optionalValue(const std::optional<CFValue>& value) {
    if (!value) return u8(absent);
    u8(present);
    return this->value(*value);
}

Writer& Writer::dictionary(const CFDictionary& value) {
    u32(static_cast<std::uint32_t>(value.size()));
    for (const auto& [key, member] : value) {
        text(key);
        this->value(member);
    }
    return *this;
}

Writer& Writer::tap(const CATapDescription& value) {
    text(value.name).ids(value.processes);
    boolean(value.isMono).boolean(value.isMixdown).boolean(value.isExclusive).boolean(value.isPrivate);
    i32(value.muteBehavior).texts(value.bundleIDs).boolean(value.isProcessRestoreEnabled);
    return value.deviceUID ? u8(present).text(*value.deviceUID) : u8(absent);
}

Writer& Writer::address(const AudioObjectPropertyAddress& value) {
    return u32(value.selector).u32(value.scope).u32(value.element);
}

std::string Writer::frame() const {
    Writer length;
    length.u32(static_cast<std::uint32_t>(bytes_.size()));
    return length.bytes_ + bytes_;
}

std::string_view Reader::take(std::size_t count) {
    if (count > bytes_.size() - position_) throw DecodingError("the session message ends early");
    const std::string_view taken = bytes_.substr(position_, count);
    position_ += count;
    return taken;
}

// A count of elements that each take at least `smallestElement` bytes: refused when the bytes left
// cannot hold them, so that a hostile count never makes the reader allocate.
std::uint32_t Reader::count(std::size_t smallestElement) {
    const std::uint32_t elements = u32();
    if (elements > (bytes_.size() - position_) / smallestElement)
        throw DecodingError("a session message counts more elements than it holds");
    return elements;
}

std::uint8_t Reader::u8() {
    return static_cast<std::uint8_t>(take(1)[0]);
}

std::uint32_t Reader::u32() {
    const std::string_view bytes = take(4);
    std::uint32_t value = 0;
    for (char byte : bytes) value = (value << 8) | static_cast<unsigned char>(byte);
    return value;
}

std::uint64_t Reader::u64() {
    const std::uint64_t high = u32();
    return (high << 32) | u32();
}

double Reader::f64() {
    return std::bit_cast<double>(u64());
}

bool Reader::boolean() {
    const std::uint8_t flag = u8();
    if (flag > 1) throw DecodingError("a session message holds a boolean that is neither 0 nor 1");
    return flag == 1;
}

std::string Reader::text() {
    const std::uint32_t size = count(1);
    std::string value(take(size));
    if (Utf8::repaired(value) != value)
        throw DecodingError("a session message holds a text that is not UTF-8");
    return value;
}

std::vector<std::string> Reader::texts() {
    const std::uint32_t size = count(4);
    std::vector<std::string> values;
    for (std::uint32_t index = 0; index < size; ++index) values.push_back(text());
    return values;
}

std::vector<std::uint32_t> Reader::ids() {
    const std::uint32_t size = count(4);
    std::vector<std::uint32_t> values;
    for (std::uint32_t index = 0; index < size; ++index) values.push_back(u32());
    return values;
}

CFValue Reader::value(int depth) {
    if (depth >= maxValueDepth) throw DecodingError("a session message nests values too deeply");
    switch (u8()) {
        case textType:
            return text();
        case numberType:
            return f64();
        case booleanType:
            return boolean();
        case arrayType: {
            const std::uint32_t size = count(1);
            CFArray array;
            for (std::uint32_t index = 0; index < size; ++index) array.push_back(value(depth + 1));
            return array;
        }
        case dictionaryType:
            return dictionary(depth + 1);
        case elementType:
            return AXUIElement(u64());
        case tapType:
            return tap();
        default:
            throw DecodingError("a session message holds a value of an unknown type");
    }
}

std::optional<CFValue> Reader::optionalValue() {
    if (!boolean()) return std::nullopt;
    return value(0);
}

CFDictionary Reader::dictionary(int depth) {
    if (depth >= maxValueDepth) throw DecodingError("a session message nests values too deeply");
    const std::uint32_t size = count(5);
    CFDictionary dictionary;
    for (std::uint32_t index = 0; index < size; ++index) {
        std::string key = text();
        CFValue member = value(depth + 1);
        if (!dictionary.emplace(std::move(key), std::move(member)).second)
            throw DecodingError("a session message holds a dictionary with a repeated key");
    }
    return dictionary;
}

CATapDescription Reader::tap() {
    CATapDescription tap;
    tap.name = text();
    tap.processes = ids();
    tap.isMono = boolean();
    tap.isMixdown = boolean();
    tap.isExclusive = boolean();
    tap.isPrivate = boolean();
    tap.muteBehavior = static_cast<CATapMuteBehavior>(i32());
    tap.bundleIDs = texts();
    tap.isProcessRestoreEnabled = boolean();
    if (boolean()) tap.deviceUID = text();
    return tap;
}

AudioObjectPropertyAddress Reader::address() {
    AudioObjectPropertyAddress address;
    address.selector = u32();
    address.scope = u32();
    address.element = u32();
    return address;
}

void Reader::finish() const {
    if (!atEnd()) throw DecodingError("a session message has bytes after its last field");
}

std::optional<std::uint32_t> decodeLength(std::span<const unsigned char, lengthSize> bytes) {
    const std::uint32_t length = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                                 (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
    if (length > maxFrameSize) return std::nullopt;
    return length;
}

}  // namespace tessaly::SessionFrame
