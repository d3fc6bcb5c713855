#pragma once
// JSON as the platform's encoder and decoder produce and accept it: a strict reader for
// records (required members, exact types, integers that fit, unknown members ignored) and
// a writer for pretty-printed output with sorted keys.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "foundation/DecodingError.h"

namespace tessaly::json {

using Value = nlohmann::json;

/// Parses UTF-8 bytes into a JSON value; malformed input throws DecodingError.
Value parse(std::string_view bytes);

/// Pretty-printed with sorted keys, as the platform encoder writes it: two-space indent,
/// `"key" : value`, one member per line, no trailing newline.
std::string writePretty(const Value& value);

/// Compact with sorted keys, as the platform encoder writes it with default settings.
std::string writeCompact(const Value& value);

/// Reads the members of one JSON object with the decoder's strict rules. Every failure is a
/// DecodingError naming the member.
class ObjectReader {
public:
    /// Throws DecodingError unless `value` is an object.
    explicit ObjectReader(const Value& value);

    std::string text(std::string_view key) const;
    double number(std::string_view key) const;
    bool boolean(std::string_view key) const;
    /// An integer member that must fit `Integer`; a fractional or out-of-range number is refused.
    template <typename Integer>
    Integer integer(std::string_view key) const {
        return integerFrom<Integer>(required(key), key);
    }
    template <typename Integer>
    std::vector<Integer> integers(std::string_view key) const {
        std::vector<Integer> result;
        for (const auto& element : arrayOf(key)) result.push_back(integerFrom<Integer>(element, key));
        return result;
    }
    /// An optional text: absent and null both read as nothing.
    std::optional<std::string> optionalText(std::string_view key) const;
    /// An optional number: absent and null both read as nothing.
    std::optional<double> optionalNumber(std::string_view key) const;
    /// An optional nested object: absent and null both read as nothing.
    std::optional<ObjectReader> optionalObject(std::string_view key) const;

private:
    const Value& required(std::string_view key) const;
    const Value* optional(std::string_view key) const;
    const Value::array_t& arrayOf(std::string_view key) const;
    [[noreturn]] static void wrongType(std::string_view key);

    template <typename Integer>
    static Integer integerFrom(const Value& element, std::string_view key) {
        if (element.is_number_unsigned()) {
            auto raw = element.get<std::uint64_t>();
            if (raw <= static_cast<std::uint64_t>(std::numeric_limits<Integer>::max())) {
                return static_cast<Integer>(raw);
            }
        } else if (element.is_number_integer()) {
            auto raw = element.get<std::int64_t>();
            if (std::in_range<Integer>(raw)) return static_cast<Integer>(raw);
        } else if (element.is_number_float()) {
            // "1.0" is the integer 1, as the platform decoder reads it; "1.5" is not an integer.
            auto raw = element.get<double>();
            if (raw == static_cast<double>(static_cast<std::int64_t>(raw)) &&
                std::in_range<Integer>(static_cast<std::int64_t>(raw)) && raw > -9.3e18 && raw < 9.3e18) {
                return static_cast<Integer>(raw);
            }
        }
        wrongType(key);
    }

    const Value* object_;
};

}  // namespace tessaly::json
