#include "foundation/Json.h"

#include <charconv>
#include <cmath>

#include "foundation/FileDescriptor.h"

namespace tessaly::json {

namespace {

void writeString(std::string& out, const std::string& text) {
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '/': out += "\\/"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c < 0x20) {
                    static const char hex[] = "0123456789abcdef";
                    out += "\\u00";
                    out += hex[c >> 4];
                    out += hex[c & 0xF];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

// Doubles are written in their shortest exact form; whole numbers without a fraction ("1", not "1.0").
void writeDouble(std::string& out, double number) {
    char buffer[64];
    if (std::isfinite(number) && number == std::trunc(number) && std::fabs(number) < 1e15) {
        auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<long long>(number));
        out.append(buffer, result.ptr);
        return;
    }
    auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    out.append(buffer, result.ptr);
}

void writeValue(std::string& out, const Value& value, bool pretty, int depth) {
    const std::string indent = pretty ? std::string(2 * (depth + 1), ' ') : "";
    const std::string closingIndent = pretty ? std::string(2 * depth, ' ') : "";
    const char* newline = pretty ? "\n" : "";
    switch (value.type()) {
        case Value::value_t::object: {
            out += '{';
            out += newline;
            bool first = true;
            for (const auto& [key, member] : value.items()) {  // nlohmann keeps object keys sorted
                if (!first) {
                    out += ',';
                    out += newline;
                }
                first = false;
                out += indent;
                writeString(out, key);
                out += pretty ? " : " : ":";
                writeValue(out, member, pretty, depth + 1);
            }
            out += newline;
            if (!first || pretty) out += closingIndent;
            out += '}';
            break;
        }
        case Value::value_t::array: {
            out += '[';
            out += newline;
            bool first = true;
            for (const auto& element : value) {
                if (!first) {
                    out += ',';
                    out += newline;
                }
                first = false;
                out += indent;
                writeValue(out, element, pretty, depth + 1);
            }
            out += newline;
            out += closingIndent;
            out += ']';
            break;
        }
        case Value::value_t::string: writeString(out, value.get_ref<const std::string&>()); break;
        case Value::value_t::boolean: out += value.get<bool>() ? "true" : "false"; break;
        case Value::value_t::number_integer: out += std::to_string(value.get<std::int64_t>()); break;
        case Value::value_t::number_unsigned: out += std::to_string(value.get<std::uint64_t>()); break;
        case Value::value_t::number_float: writeDouble(out, value.get<double>()); break;
        default: out += "null"; break;
    }
}

}  // namespace

Value parse(std::string_view bytes) {
    Value value = Value::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) throw DecodingError("the text is not valid JSON");
    return value;
}

std::string writePretty(const Value& value) {
    std::string out;
    writeValue(out, value, true, 0);
    return out;
}

std::string writeCompact(const Value& value) {
    std::string out;
    writeValue(out, value, false, 0);
    return out;
}

ObjectReader::ObjectReader(const Value& value) : object_(&value) {
    if (!value.is_object()) throw DecodingError("a JSON object was expected");
}

const Value* ObjectReader::optional(std::string_view key) const {
    auto found = object_->find(key);
    if (found == object_->end() || found->is_null()) return nullptr;
    return &*found;
}

const Value& ObjectReader::required(std::string_view key) const {
    auto found = object_->find(key);
    if (found == object_->end()) {
        throw DecodingError("the member " + fs::quoted(std::string(key)) + " is missing");
    }
    return *found;
}

void ObjectReader::wrongType(std::string_view key) {
    throw DecodingError("the member " + fs::quoted(std::string(key)) + " has the wrong type");
}

std::string ObjectReader::text(std::string_view key) const {
    const auto& member = required(key);
    if (!member.is_string()) wrongType(key);
    return member.get<std::string>();
}

double ObjectReader::number(std::string_view key) const {
    const auto& member = required(key);
    if (!member.is_number()) wrongType(key);
    return member.get<double>();
}

bool ObjectReader::boolean(std::string_view key) const {
    const auto& member = required(key);
    if (!member.is_boolean()) wrongType(key);
    return member.get<bool>();
}

const Value::array_t& ObjectReader::arrayOf(std::string_view key) const {
    const auto& member = required(key);
    if (!member.is_array()) wrongType(key);
    return member.get_ref<const Value::array_t&>();
}

std::optional<std::string> ObjectReader::optionalText(std::string_view key) const {
    const Value* member = optional(key);
    if (!member) return std::nullopt;
    if (!member->is_string()) wrongType(key);
    return member->get<std::string>();
}

std::optional<double> ObjectReader::optionalNumber(std::string_view key) const {
    const Value* member = optional(key);
    if (!member) return std::nullopt;
    if (!member->is_number()) wrongType(key);
    return member->get<double>();
}

std::optional<ObjectReader> ObjectReader::optionalObject(std::string_view key) const {
    const Value* member = optional(key);
    if (!member) return std::nullopt;
    if (!member->is_object()) wrongType(key);
    return ObjectReader(*member);
}

}  // namespace tessaly::json
