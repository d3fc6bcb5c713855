#include "foundation/Json.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include <nlohmann/json.hpp>

#include "foundation/FileDescriptor.h"

namespace tessaly::Json {

/// The one door to a value's content for the parser, the writer and the reader below.
struct ValueAccess {
    static auto& content(Value& value) { return value.content_; }
    static const auto& content(const Value& value) { return value.content_; }
};

namespace {

// ---- Parsing: nlohmann/json's parser, reporting each token to a builder of our values. ----

/// Builds one Value from the parser's events, nesting at most maximumDepth levels.
class Builder {
public:
    using Json = nlohmann::json;

    bool null() { return place(Value()); }
    bool boolean(bool flag) { return place(Value(flag)); }
    bool number_integer(Json::number_integer_t number) { return place(Value(number)); }
    bool number_unsigned(Json::number_unsigned_t number) { return place(Value(number)); }
    bool number_float(Json::number_float_t number, const Json::string_t&) { return place(Value(number)); }
    bool string(Json::string_t& text) { return place(Value(std::move(text))); }
    bool binary(Json::binary_t&) { return false; }  // JSON text holds no binary values
    bool start_object(std::size_t) { return open(Value::object()); }
    bool key(Json::string_t& key) {
        key_ = std::move(key);
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Value::array({})); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

    bool tooDeep() const { return tooDeep_; }
    Value take() { return std::move(root_); }

private:
    // Adds `value` where the parser is: as the root, the next array element or the member named
    // by the last key (a repeated key keeps its last value).
    Value* add(Value value) {
        if (openContainers_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        auto& container = ValueAccess::content(*openContainers_.back());
        if (auto* array = std::get_if<Value::Array>(&container)) {
            array->push_back(std::move(value));
            return &array->back();
        }
        auto& object = std::get<Value::Object>(container);
        return &object.insert_or_assign(std::move(key_), std::move(value)).first->second;
    }
    bool place(Value value) {
        add(std::move(value));
        return true;
    }
    bool open(Value container) {
        if (openContainers_.size() >= maximumDepth) {
            tooDeep_ = true;
            return false;
        }
        // Only the innermost open container grows, so the pointers to the outer ones stay valid.
        openContainers_.push_back(add(std::move(container)));
        return true;
    }
    bool close() {
        openContainers_.pop_back();
        return true;
    }

    Value root_;
    std::vector<Value*> openContainers_;
    std::string key_;
    bool tooDeep_ = false;
};

// ---- Writing ----

void writeString(std::string& out, const std::string& text) {
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '/':
                out += "\\/";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
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

void writeValue(std::string& out, const Value& value, bool pretty, int depth);

// `items` are the members or the elements; `writeItem` writes one of them after its indent.
template <typename Items, typename WriteItem>
void writeContainer(std::string& out, char opening, char closing, const Items& items, bool pretty, int depth,
                    WriteItem writeItem) {
    const std::string indent = pretty ? std::string(2 * (depth + 1), ' ') : "";
    const std::string closingIndent = pretty ? std::string(2 * depth, ' ') : "";
    const char* newline = pretty ? "\n" : "";
    out += opening;
    out += newline;
    bool first = true;
    for (const auto& item : items) {
        if (!first) {
            out += ',';
            out += newline;
        }
        first = false;
        out += indent;
        writeItem(item);
    }
    out += newline;
    out += closingIndent;
    out += closing;
}

void writeValue(std::string& out, const Value& value, bool pretty, int depth) {
    const auto& content = ValueAccess::content(value);
    if (const auto* object = std::get_if<Value::Object>(&content)) {
        writeContainer(out, '{', '}', *object, pretty, depth, [&](const auto& member) {
            writeString(out, member.first);
            out += pretty ? " : " : ":";
            writeValue(out, member.second, pretty, depth + 1);
        });
    } else if (const auto* array = std::get_if<Value::Array>(&content)) {
        writeContainer(out, '[', ']', *array, pretty, depth,
                       [&](const Value& element) { writeValue(out, element, pretty, depth + 1); });
    } else if (const auto* text = std::get_if<std::string>(&content)) {
        writeString(out, *text);
    } else if (const auto* flag = std::get_if<bool>(&content)) {
        out += *flag ? "true" : "false";
    } else if (const auto* integer = std::get_if<std::int64_t>(&content)) {
        out += std::to_string(*integer);
    } else if (const auto* natural = std::get_if<std::uint64_t>(&content)) {
        out += std::to_string(*natural);
    } else if (const auto* number = std::get_if<double>(&content)) {
        writeDouble(out, *number);
    } else {
        out += "null";
    }
}

// ---- Reading ----

[[noreturn]] void wrongType(std::string_view key) {
    throw DecodingError("the member " + FileSystem::quoted(std::string(key)) + " has the wrong type");
}

std::optional<double> numberIn(const Value& value) {
    const auto& content = ValueAccess::content(value);
    if (const auto* number = std::get_if<double>(&content)) return *number;
    if (const auto* integer = std::get_if<std::int64_t>(&content)) return static_cast<double>(*integer);
    if (const auto* natural = std::get_if<std::uint64_t>(&content)) return static_cast<double>(*natural);
    return std::nullopt;
}

template <typename Integer>
Integer integerFrom(const Value& element, std::string_view key) {
    const auto& content = ValueAccess::content(element);
    if (const auto* natural = std::get_if<std::uint64_t>(&content)) {
        if (*natural <= static_cast<std::uint64_t>(std::numeric_limits<Integer>::max())) {
            return static_cast<Integer>(*natural);
        }
    } else if (const auto* integer = std::get_if<std::int64_t>(&content)) {
        if (std::in_range<Integer>(*integer)) return static_cast<Integer>(*integer);
    } else if (const auto* number = std::get_if<double>(&content)) {
        // "1.0" is the integer 1, as the platform decoder reads it; "1.5" is not an integer. The
        // range comes first: converting a double beyond the 64-bit integers is undefined.
        constexpr double twoToThe63 = 9223372036854775808.0;
        if (*number >= -twoToThe63 && *number < twoToThe63) {
            const auto whole = static_cast<std::int64_t>(*number);
            if (static_cast<double>(whole) == *number && std::in_range<Integer>(whole)) {
                return static_cast<Integer>(whole);
            }
        }
    }
    wrongType(key);
}

}  // namespace

Value Value::array(std::initializer_list<Value> elements) {
    Value value;
    value.content_ = Array(elements);
    return value;
}

Value Value::object() {
    Value value;
    value.content_ = Object();
    return value;
}

Value& Value::operator[](std::string_view key) {
    auto& object = std::get<Object>(content_);
    auto found = object.find(key);
    if (found == object.end()) found = object.emplace(std::string(key), Value()).first;
    return found->second;
}

void Value::erase(std::string_view key) {
    auto& object = std::get<Object>(content_);
    if (auto found = object.find(key); found != object.end()) object.erase(found);
}

Value parse(std::string_view bytes) {
    Builder builder;
    if (!nlohmann::json::sax_parse(bytes.begin(), bytes.end(), &builder)) {
        if (builder.tooDeep()) throw DecodingError("the JSON text is nested too deeply");
        throw DecodingError("the text is not valid JSON");
    }
    return builder.take();
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

ObjectReader::ObjectReader(const Value& value) : object_(std::get_if<Value::Object>(&value.content_)) {
    if (!object_) throw DecodingError("a JSON object was expected");
}

const Value* ObjectReader::optional(std::string_view key) const {
    auto found = object_->find(key);
    if (found == object_->end() || std::holds_alternative<std::nullptr_t>(found->second.content_))
        return nullptr;
    return &found->second;
}

const Value& ObjectReader::required(std::string_view key) const {
    auto found = object_->find(key);
    if (found == object_->end()) {
        throw DecodingError("the member " + FileSystem::quoted(std::string(key)) + " is missing");
    }
    return found->second;
}

std::string ObjectReader::text(std::string_view key) const {
    const auto* member = std::get_if<std::string>(&required(key).content_);
    if (!member) wrongType(key);
    return *member;
}

double ObjectReader::number(std::string_view key) const {
    const auto member = numberIn(required(key));
    if (!member) wrongType(key);
    return *member;
}

bool ObjectReader::boolean(std::string_view key) const {
    const auto* member = std::get_if<bool>(&required(key).content_);
    if (!member) wrongType(key);
    return *member;
}

template <typename Integer>
Integer ObjectReader::integer(std::string_view key) const {
    return integerFrom<Integer>(required(key), key);
}

template <typename Integer>
std::vector<Integer> ObjectReader::integers(std::string_view key) const {
    const auto* array = std::get_if<Value::Array>(&required(key).content_);
    if (!array) wrongType(key);
    std::vector<Integer> result;
    result.reserve(array->size());
    for (const auto& element : *array) result.push_back(integerFrom<Integer>(element, key));
    return result;
}

template std::int32_t ObjectReader::integer<std::int32_t>(std::string_view) const;
template std::uint32_t ObjectReader::integer<std::uint32_t>(std::string_view) const;
template std::int64_t ObjectReader::integer<std::int64_t>(std::string_view) const;
template std::vector<std::int32_t> ObjectReader::integers<std::int32_t>(std::string_view) const;
template std::vector<std::uint32_t> ObjectReader::integers<std::uint32_t>(std::string_view) const;

std::optional<std::string> ObjectReader::optionalText(std::string_view key) const {
    const Value* member = optional(key);
    if (!member) return std::nullopt;
    const auto* text = std::get_if<std::string>(&member->content_);
    if (!text) wrongType(key);
    return *text;
}

std::optional<double> ObjectReader::optionalNumber(std::string_view key) const {
    const Value* member = optional(key);
    if (!member) return std::nullopt;
    const auto number = numberIn(*member);
    if (!number) wrongType(key);
    return number;
}

std::optional<ObjectReader> ObjectReader::optionalObject(std::string_view key) const {
    const Value* member = optional(key);
    if (!member) return std::nullopt;
    if (!member->isObject()) wrongType(key);
    return ObjectReader(*member);
}

}  // namespace tessaly::Json
