#pragma once
// JSON as the platform's encoder and decoder produce and accept it: a strict reader for
// records (required members, exact types, integers that fit, unknown members ignored) and
// a writer for pretty-printed output with sorted keys. The parser behind it is private to
// Json.cpp, so no other file compiles it.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "foundation/DecodingError.h"

namespace tessaly::Json {

struct ValueAccess;

/// One JSON value: null, a boolean, a number (kept as a signed or unsigned integer when it was
/// written as one), a text, an array or an object whose members are kept sorted by key.
class Value {
public:
    using Array = std::vector<Value>;
    using Object = std::map<std::string, Value, std::less<>>;

    /// null.
    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool flag) : content_(flag) {}
    template <std::integral Integer>
    requires(!std::same_as<Integer, bool>) Value(Integer number) {
        if constexpr (std::signed_integral<Integer>) {
            content_ = static_cast<std::int64_t>(number);
        } else {
            content_ = static_cast<std::uint64_t>(number);
        }
    }
    Value(double number) : content_(number) {}
    Value(std::string text) : content_(std::move(text)) {}
    Value(const char* text) : content_(std::string(text)) {}
    /// An array of integers.
    template <std::integral Integer>
    Value(const std::vector<Integer>& numbers) : content_(Array(numbers.begin(), numbers.end())) {}
    /// An array holding `elements`.
    explicit Value(Array elements) : content_(std::move(elements)) {}
    /// An object from its members: `Value{{"volume", 0.5}, {"muted", false}}`.
    Value(std::initializer_list<std::pair<const std::string, Value>> members) : content_(Object(members)) {}

    /// An array of the given elements.
    static Value array(std::initializer_list<Value> elements);
    /// An object without members.
    static Value object();

    bool isObject() const { return std::holds_alternative<Object>(content_); }

    /// The member named `key`, made null when the object lacks it. Only for objects.
    Value& operator[](std::string_view key);
    /// Removes the member named `key`, if there is one. Only for objects.
    void erase(std::string_view key);

private:
    friend class ObjectReader;
    friend struct ValueAccess;

    std::variant<std::nullptr_t, bool, std::int64_t, std::uint64_t, double, std::string, Array, Object>
        content_ = nullptr;
};

/// The most levels of nested arrays and objects read, the outermost one counted: deeper input is
/// refused rather than risking the stack.
inline constexpr std::size_t maximumDepth = 512;

/// Parses UTF-8 bytes into a JSON value; malformed or too deeply nested input throws
/// DecodingError.
Value parse(std::string_view bytes);

/// Pretty-printed with sorted keys, as the platform encoder writes it: two-space indent,
/// `"key" : value`, one member per line, no trailing newline.
std::string writePretty(const Value& value);

/// Compact with sorted keys, as the platform encoder writes it with default settings.
std::string writeCompact(const Value& value);

/// Reads the members of one JSON object with the decoder's strict rules. Every failure is a
/// DecodingError naming the member. It refers to `value`, which must outlive it.
class ObjectReader {
public:
    /// Throws DecodingError unless `value` is an object.
    explicit ObjectReader(const Value& value);

    std::string text(std::string_view key) const;
    double number(std::string_view key) const;
    bool boolean(std::string_view key) const;
    /// An integer member that must fit `Integer`; a fractional or out-of-range number is refused.
    /// Defined for std::int32_t, std::uint32_t and std::int64_t.
    template <typename Integer>
    Integer integer(std::string_view key) const;
    /// An array member whose elements are integers that fit `Integer`.
    template <typename Integer>
    std::vector<Integer> integers(std::string_view key) const;
    /// An optional text: absent and null both read as nothing.
    std::optional<std::string> optionalText(std::string_view key) const;
    /// An optional number: absent and null both read as nothing.
    std::optional<double> optionalNumber(std::string_view key) const;
    /// An optional nested object: absent and null both read as nothing.
    std::optional<ObjectReader> optionalObject(std::string_view key) const;

private:
    const Value& required(std::string_view key) const;
    const Value* optional(std::string_view key) const;

    const Value::Object* object_;
};

}  // namespace tessaly::Json
