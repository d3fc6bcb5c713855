#include "foundation/Utf8.h"

#include <array>

namespace tessaly::Utf8 {

namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

/// The code point of the well-formed UTF-8 sequence of `length` bytes at `position`.
unsigned codePointAt(std::string_view text, std::size_t position, std::size_t length) {
    const auto lead = static_cast<unsigned char>(text[position]);
    unsigned codePoint = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
        codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[position + k]) & 0x3Fu);
    }
    return codePoint;
}

/// The length of the well-formed UTF-8 sequence at `position`, or 0 when it is not one.
std::size_t validSequenceLength(std::string_view bytes, std::size_t position) {
    const auto lead = static_cast<unsigned char>(bytes[position]);
    if (lead < 0x80) return 1;
    const std::size_t length = (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || position + length > bytes.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(bytes[position + k]) & 0xC0) != 0x80) return 0;
    }
    // Overlong forms, surrogates and values past U+10FFFF are not well-formed.
    static constexpr std::array<unsigned, 5> smallest{0, 0, 0x80, 0x800, 0x10000};
    const unsigned codePoint = codePointAt(bytes, position, length);
    if (codePoint < smallest[length] || codePoint > 0x10FFFF) return 0;
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;
    return length;
}

/// White space and line ends as Unicode counts them: tab to carriage return, next line, and the
/// space separators, line separator and paragraph separator.
bool isWhiteSpace(unsigned codePoint) {
    if ((codePoint >= 0x09 && codePoint <= 0x0D) || (codePoint >= 0x2000 && codePoint <= 0x200A)) return true;
    switch (codePoint) {
        case 0x20:
        case 0x85:
        case 0xA0:
        case 0x1680:
        case 0x2028:
        case 0x2029:
        case 0x202F:
        case 0x205F:
        case 0x3000:
            return true;
        default:
            return false;
    }
}

}  // namespace

/// Every byte that does not start a well-formed sequence becomes U+FFFD.
std::string repaired(std::string_view bytes) {
    std::string text;
    std::size_t position = 0;
    while (position < bytes.size()) {
        const std::size_t length = validSequenceLength(bytes, position);
        if (length == 0) {
            text += replacementCharacter;
            ++position;
            continue;
        }
        text.append(bytes.substr(position, length));
        position += length;
    }
    return text;
}

/// `text` (well-formed UTF-8) without white space and line ends at either end.
std::string trimmed(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t length = validSequenceLength(text, begin);
        if (!isWhiteSpace(codePointAt(text, begin, length))) break;
        begin += length;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        if (!isWhiteSpace(codePointAt(text, start, end - start))) break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

}  // namespace tessaly::Utf8
