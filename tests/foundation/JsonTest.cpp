#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/DecodingError.h"
#include "foundation/Json.h"

namespace tessaly {
namespace {

// Every kind of value the records write: the output must stay byte for byte what the platform
// encoder writes, since clients and saved files compare it as text.
Json::Value everyKind() {
    Json::Value nested{{"inner", -7},
                       {"list", std::vector<std::uint32_t>{1u, 4294967295u}},
                       {"empty", Json::Value::object()}};
    return Json::Value{{"b", 0.35},
                       {"a", 1.0},
                       {"c", Json::Value::array({90, 140})},
                       {"d", "x/y\n"},
                       {"e", nested},
                       {"f", Json::Value::object()},
                       {"g", Json::Value::array({})},
                       {"h", true},
                       {"h2", false},
                       {"i", std::int64_t{-9223372036854775807 - 1}},
                       {"j", "\x01\x1f\t\"\\\b\f\r \xC3\xA9"},
                       {"k", 1e300},
                       {"l", 5e-324},
                       {"m", 123456789012345.0},
                       {"n", 1e15},
                       {"o", -0.0},
                       {"p", nullptr},
                       {"q", std::uint64_t{18446744073709551615ull}},
                       {"r", std::vector<std::int32_t>{-1, 2}},
                       {"s", 0.1 + 0.2},
                       {"Z", -2.5e-7}};
}

TEST(JsonWriter, WritesThePlatformsPrettyAndCompactSortedForms) {
    EXPECT_EQ(Json::writePretty(everyKind()), R"({
  "Z" : -2.5e-07,
  "a" : 1,
  "b" : 0.35,
  "c" : [
    90,
    140
  ],
  "d" : "x\/y\n",
  "e" : {
    "empty" : {

    },
    "inner" : -7,
    "list" : [
      1,
      4294967295
    ]
  },
  "f" : {

  },
  "g" : [

  ],
  "h" : true,
  "h2" : false,
  "i" : -9223372036854775808,
  "j" : "\u0001\u001f\t\"\\\b\f\r )"
                                              "\xC3\xA9"
                                              R"(",
  "k" : 1e+300,
  "l" : 5e-324,
  "m" : 123456789012345,
  "n" : 1e+15,
  "o" : 0,
  "p" : null,
  "q" : 18446744073709551615,
  "r" : [
    -1,
    2
  ],
  "s" : 0.30000000000000004
})");
    EXPECT_EQ(Json::writeCompact(everyKind()),
              R"({"Z":-2.5e-07,"a":1,"b":0.35,"c":[90,140],"d":"x\/y\n","e":{"empty":{},"inner":-7,)"
              R"("list":[1,4294967295]},"f":{},"g":[],"h":true,"h2":false,"i":-9223372036854775808,)"
              R"("j":"\u0001\u001f\t\"\\\b\f\r )"
              "\xC3\xA9"
              R"(","k":1e+300,"l":5e-324,"m":123456789012345,"n":1e+15,"o":0,"p":null,)"
              R"("q":18446744073709551615,"r":[-1,2],"s":0.30000000000000004})");
    // Every double reads back exactly.
    for (double number : {0.1, 0.35, 1.0 / 3.0, 5e-324, 0.004999999, 1e300}) {
        const Json::Value parsed = Json::parse(Json::writePretty(Json::Value{{"v", number}}));
        EXPECT_EQ(Json::ObjectReader(parsed).number("v"), number);
    }
}

TEST(JsonReader, TakesOnlyWholeNumbersThatFitTheField) {
    struct Case {
        const char* number;
        bool fitsInt32, fitsUInt32, fitsInt64;
    };
    const Case cases[] = {
        {"1", true, true, true},
        {"1.0", true, true, true},  // the platform decoder reads a whole real as an integer
        {"-1", true, false, true},
        {"1.5", false, false, false},
        {"2147483648", false, true, true},
        {"4294967296", false, false, true},
        {"9223372036854775807", false, false, true},
        {"9223372036854775808", false, false, false},
        {"-9.2233720368547758e18", false, false, true},  // -2^63, the least 64-bit integer
        {"9.2233720368547758e18", false, false, false},  // 2^63, one past the greatest
        {"1e19", false, false, false},                   // out of every range: no conversion may be tried
        {"-1e19", false, false, false},
        {"1e300", false, false, false},
    };
    for (const Case& c : cases) {
        const Json::Value value = Json::parse(std::string(R"({"n":)") + c.number + "}");
        const Json::ObjectReader reader(value);
        auto fits = [&](auto read) {
            try {
                read();
                return true;
            } catch (const DecodingError&) {
                return false;
            }
        };
        EXPECT_EQ(fits([&] { reader.integer<std::int32_t>("n"); }), c.fitsInt32) << c.number;
        EXPECT_EQ(fits([&] { reader.integer<std::uint32_t>("n"); }), c.fitsUInt32) << c.number;
        EXPECT_EQ(fits([&] { reader.integer<std::int64_t>("n"); }), c.fitsInt64) << c.number;
    }
}

TEST(JsonReader, RefusesNestingDeeperThanItsLimit) {
    auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_NO_THROW(Json::parse(nested(Json::maximumDepth)));
    EXPECT_THROW(Json::parse(nested(Json::maximumDepth + 1)), DecodingError);
    // A peer's reply may be a megabyte of brackets: refused, not a stack overflow.
    EXPECT_THROW(Json::parse(std::string(1 << 20, '[')), DecodingError);
    std::string objects;
    for (int level = 0; level < 100000; ++level) objects += R"({"a":)";
    EXPECT_THROW(Json::parse(objects), DecodingError);
}

}  // namespace
}  // namespace tessaly
