#include "values/PropertyList.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "foundation/DecodingError.h"
#include "foundation/Utf8.h"

namespace tessaly {

namespace {

struct NodeDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
/// Owns a libplist node and everything below it.
using Node = std::unique_ptr<void, NodeDeleter>;

struct MallocDeleter {
    void operator()(void* memory) const { std::free(memory); }
};

// Whole numbers beyond this do not fit a property list's 64-bit integer; they are written as reals.
constexpr double largestWrittenInteger = 9.2e18;

[[noreturn]] void refuse(const std::string& detail) {
    throw DecodingError("the property list " + detail);
}

CFValue valueOf(plist_t node, std::size_t depth);

// libplist passes on bytes that are not UTF-8, which no text of the platform can hold (and which
// it then writes into XML that it cannot read back).
std::string textOf(const char* bytes, std::size_t length) {
    std::string text(bytes, length);
    if (Utf8::repaired(text) != text) refuse("holds a text that is not UTF-8");
    return text;
}

void requireShallow(std::size_t depth) {
    if (depth >= PropertyList::maximumDepth) refuse("is nested too deeply");
}

CFValue arrayOf(plist_t node, std::size_t depth) {
    requireShallow(depth);
    CFArray array;
    const std::uint32_t count = plist_array_get_size(node);
    array.reserve(count);
    for (std::uint32_t index = 0; index < count; ++index) {
        array.push_back(valueOf(plist_array_get_item(node, index), depth + 1));
    }
    return array;
}

// A binary list can hold a key with a NUL byte inside, and libplist aborts the process when such a
// key is read. Its XML form keeps every byte of the key, so a NUL there is seen before the read.
bool keyHoldsNul(plist_t keyNode) {
    char* rawXml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(keyNode, &rawXml, &length);
    std::unique_ptr<char, MallocDeleter> xml(rawXml);
    return !xml || std::memchr(xml.get(), '\0', length) != nullptr;
}

CFValue dictionaryOf(plist_t node, std::size_t depth) {
    requireShallow(depth);
    CFDictionary dictionary;
    plist_dict_iter rawIterator = nullptr;
    plist_dict_new_iter(node, &rawIterator);
    std::unique_ptr<void, MallocDeleter> iterator(rawIterator);
    while (true) {
        plist_t item = nullptr;
        plist_dict_next_item(node, iterator.get(), nullptr, &item);
        if (!item) break;
        const plist_t keyNode = plist_dict_item_get_key(item);
        if (!keyNode || keyHoldsNul(keyNode)) refuse("has a dictionary key that is not a text");
        char* rawKey = nullptr;
        plist_get_key_val(keyNode, &rawKey);
        std::unique_ptr<char, MallocDeleter> key(rawKey);
        if (!key) refuse("has a dictionary key that is not a text");
        // A repeated key (possible in a binary list) keeps its last value, as the XML reader does.
        dictionary.insert_or_assign(textOf(key.get(), std::strlen(key.get())), valueOf(item, depth + 1));
    }
    return dictionary;
}

CFValue valueOf(plist_t node, std::size_t depth) {
    if (!node) refuse("is malformed");
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            std::uint8_t flag = 0;
            plist_get_bool_val(node, &flag);
            return CFValue(flag != 0);
        }
        case PLIST_UINT: {
            // libplist keeps every integer as 64 raw bits; property lists written by the platform
            // hold signed integers, so the bits are read as a signed number.
            std::uint64_t raw = 0;
            plist_get_uint_val(node, &raw);
            return CFValue(static_cast<double>(static_cast<std::int64_t>(raw)));
        }
        case PLIST_REAL: {
            double number = 0;
            plist_get_real_val(node, &number);
            return CFValue(number);
        }
        case PLIST_STRING: {
            std::uint64_t length = 0;
            const char* text = plist_get_string_ptr(node, &length);
            if (!text) refuse("is malformed");
            return CFValue(textOf(text, static_cast<std::size_t>(length)));
        }
        case PLIST_ARRAY:
            return arrayOf(node, depth);
        case PLIST_DICT:
            return dictionaryOf(node, depth);
        case PLIST_DATE:
            refuse("holds a date, which Tessaly does not read");
        case PLIST_DATA:
            refuse("holds data, which Tessaly does not read");
        case PLIST_UID:
            refuse("holds a UID, which Tessaly does not read");
        case PLIST_KEY:
        case PLIST_NONE:
            break;
    }
    refuse("is malformed");
}

Node nodeOf(const CFValue& value);

Node arrayNodeOf(const CFArray& array) {
    Node node(plist_new_array());
    for (const auto& element : array) plist_array_append_item(node.get(), nodeOf(element).release());
    return node;
}

Node dictionaryNodeOf(const CFDictionary& dictionary) {
    Node node(plist_new_dict());
    for (const auto& [key, element] : dictionary) {
        if (key.find('\0') != std::string::npos) {
            throw std::invalid_argument("A property-list key cannot hold a NUL character.");
        }
        plist_dict_set_item(node.get(), key.c_str(), nodeOf(element).release());
    }
    return node;
}

Node numberNodeOf(double number) {
    const bool whole =
        std::isfinite(number) && number == std::trunc(number) && std::fabs(number) <= largestWrittenInteger;
    if (!whole) return Node(plist_new_real(number));
    return Node(plist_new_uint(static_cast<std::uint64_t>(static_cast<std::int64_t>(number))));
}

Node nodeOf(const CFValue& value) {
    if (const auto* text = value.text()) {
        // libplist takes C strings: a NUL would silently cut the text short.
        if (text->find('\0') != std::string::npos) {
            throw std::invalid_argument("A property-list text cannot hold a NUL character.");
        }
        return Node(plist_new_string(text->c_str()));
    }
    if (const auto* number = value.number()) return numberNodeOf(*number);
    if (const auto* flag = value.boolean()) return Node(plist_new_bool(*flag ? 1 : 0));
    if (const auto* array = value.array()) return arrayNodeOf(*array);
    if (const auto* dictionary = value.dictionary()) return dictionaryNodeOf(*dictionary);
    throw std::invalid_argument("Accessibility elements and tap descriptions have no property-list form.");
}

}  // namespace

CFValue PropertyList::parse(std::string_view bytes) {
    if (bytes.size() > maximumSize) refuse("is too large");
    if (bytes.empty()) refuse("is malformed");
    plist_t raw = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
    Node root(raw);
    return valueOf(root.get(), 0);
}

std::string PropertyList::writeXml(const CFValue& value) {
    Node root = nodeOf(value);
    char* raw = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root.get(), &raw, &length);
    if (!raw) throw std::runtime_error("libplist could not write an XML property list.");
    std::string xml(raw, length);
    plist_to_xml_free(raw);
    return xml;
}

std::string PropertyList::writeBinary(const CFValue& value) {
    Node root = nodeOf(value);
    char* raw = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root.get(), &raw, &length);
    if (!raw) throw std::runtime_error("libplist could not write a binary property list.");
    std::string binary(raw, length);
    plist_to_bin_free(raw);
    return binary;
}

}  // namespace tessaly
