#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ports/CoreAudio.h"
#include "values/CATapDescription.h"
#include "values/CFValue.h"

namespace tessaly {

/// The bytes exchanged with a simulated session over its Unix-domain socket. Every frame is its
/// length (4 bytes, unsigned, big-endian, at most maxFrameSize) and that many bytes of message.
/// Messages are a sequence of fields written by Writer and read back in the same order by Reader:
/// integers big-endian, numbers as IEEE doubles, texts as a length and UTF-8 bytes, Core
/// Foundation values as a type byte and their contents. Element handles travel as the session's
/// identities, so a client holds only numbers.
namespace SessionFrame {

/// The bytes of a frame's length.
inline constexpr std::size_t lengthSize = 4;
/// The largest message either side accepts, so that a confused peer cannot make the other
/// allocate without bound.
inline constexpr std::size_t maxFrameSize = 4 * 1024 * 1024;
/// The deepest nesting of arrays and dictionaries read, so that hostile bytes cannot exhaust the stack.
inline constexpr int maxValueDepth = 64;

/// Builds one message.
class Writer {
public:
    Writer& u8(std::uint8_t value);
    Writer& u32(std::uint32_t value);
    Writer& i32(std::int32_t value) { return u32(static_cast<std::uint32_t>(value)); }
    Writer& u64(std::uint64_t value);
    Writer& f64(double value);
    Writer& boolean(bool value) { return u8(value ? 1 : 0); }
    Writer& text(std::string_view value);
    Writer& texts(const std::vector<std::string>& values);
    Writer& ids(const std::vector<std::uint32_t>& values);
    Writer& value(const CFValue& value);
    Writer& optionalValue(const std::optional<CFValue>& value);
    Writer& dictionary(const CFDictionary& value);
    Writer& tap(const CATapDescription& value);
    Writer& address(const AudioObjectPropertyAddress& value);

    /// The message so far.
    const std::string& bytes() const { return bytes_; }
    /// The message as a whole frame: its length, then its bytes.
    std::string frame() const;

private:
    std::string bytes_;
};

/// Reads one message field by field. Every read past the end, or of a field that is not well
/// formed (an unknown type byte, a count larger than the bytes left, nesting too deep, a text
/// that is not UTF-8), throws DecodingError.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    std::uint8_t u8();
    std::uint32_t u32();
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    std::uint64_t u64();
    double f64();
    bool boolean();
    std::string text();
    std::vector<std::string> texts();
    std::vector<std::uint32_t> ids();
    CFValue value() { return value(0); }
    std::optional<CFValue> optionalValue();
    CFDictionary dictionary() { return dictionary(0); }
    CATapDescription tap();
    AudioObjectPropertyAddress address();

    /// Whether every byte has been read.
    bool atEnd() const { return position_ == bytes_.size(); }
    /// Throws DecodingError unless every byte has been read.
    void finish() const;

private:
    CFValue value(int depth);
    CFDictionary dictionary(int depth);
    std::string_view take(std::size_t count);
    std::uint32_t count(std::size_t smallestElement);

    std::string_view bytes_;
    std::size_t position_ = 0;
};

/// A frame's message length from its lengthSize bytes; nothing when it exceeds maxFrameSize.
std::optional<std::uint32_t> decodeLength(std::span<const unsigned char, lengthSize> bytes);

}  // namespace SessionFrame

}  // namespace tessaly
