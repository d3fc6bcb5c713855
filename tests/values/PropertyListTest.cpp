#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "foundation/DecodingError.h"
#include "support/ErrorMessage.h"
#include "values/CATapDescription.h"
#include "values/PropertyList.h"

namespace tessaly {
namespace {

const std::string malformed =
    "The data couldn\xE2\x80\x99t be read because it isn\xE2\x80\x99t in the correct format: the property list is malformed.";

std::string xmlDocument(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n" +
           body + "\n</plist>\n";
}

using testing::messageOf;

/// Nested arrays `depth` levels deep.
CFValue nestedArrays(std::size_t depth) {
    CFValue value = CFArray{};
    for (std::size_t level = 1; level < depth; ++level) value = CFArray{value};
    return value;
}

/// The same nesting as compact XML; written pretty, deep nesting grows quadratically.
std::string nestedArraysXml(std::size_t depth) {
    std::string body;
    for (std::size_t level = 0; level < depth; ++level) body += "<array>";
    for (std::size_t level = 0; level < depth; ++level) body += "</array>";
    return xmlDocument(body);
}

TEST(PropertyListReadingTest, ReadsEveryValueTypeNumbersAsNumbersTextsAsUnicodeAndARepeatedKeyLast) {
    const std::pair<std::string, CFValue> cases[] = {
        {"<dict><key>Label</key><string>a &amp; b</string><key>Count</key><integer>-12</integer><key>Ratio</key><real>0.25</real><key>On</key><true/><key>Off</key><false/><key>List</key><array><string>x</string><dict/></array></dict>",
         CFDictionary{{"Label", "a & b"},
                      {"Count", -12},
                      {"Ratio", 0.25},
                      {"On", true},
                      {"Off", false},
                      {"List", CFArray{"x", CFDictionary{}}}}},
        {"<integer>7</integer>", 7.0},
        {"<real>7</real>", 7.0},
        {"<integer>-9007199254740992</integer>", -9007199254740992.0},
        {"<string>caf\xC3\xA9 \xE2\x80\x9Cquoted\xE2\x80\x9D</string>",
         "caf\xC3\xA9 \xE2\x80\x9Cquoted\xE2\x80\x9D"},
        {"<dict><key>a</key><string>1</string><key>a</key><string>2</string></dict>",
         CFDictionary{{"a", "2"}}},
    };
    for (const auto& [body, value] : cases) EXPECT_EQ(PropertyList::parse(xmlDocument(body)), value) << body;
}

TEST(PropertyListReadingTest, MalformedBytesAreRefused) {
    for (const std::string& bytes :
         {std::string(), std::string("hello"), std::string("{ Label = x; }"), std::string("bplist00"),
          xmlDocument("<dict><key>a</key><string>b</dict>"), xmlDocument("<dict><string>b</string></dict>"),
          xmlDocument("<array><string>a</string>"), xmlDocument("<blob/>"), std::string("<plist></plist>")}) {
        EXPECT_EQ(messageOf([&] { PropertyList::parse(bytes); }), malformed) << bytes;
    }
    // Texts that are not UTF-8 (found by fuzzing: such a key was written into XML that could not be
    // read back), a truncated binary list, and a binary key with a NUL byte, which would abort libplist.
    const std::string binary = PropertyList::writeBinary(CFDictionary{{"Label", "com.orvanne.tessaly"}});
    // A key that is not ASCII is stored as UTF-16: "Lab\u00E9l" with its fourth unit made NUL.
    std::string nulKey = PropertyList::writeBinary(CFDictionary{{"Lab\xC3\xA9l", "com.orvanne.tessaly"}});
    nulKey[nulKey.find(std::string("\0L\0a\0b\0\xE9\0l", 10)) + 7] = '\0';
    for (const std::string& bytes :
         {xmlDocument("<dict><key>a\xff</key><true/></dict>"), xmlDocument("<string>\xc3</string>"),
          binary.substr(0, binary.size() - 4), nulKey}) {
        EXPECT_THROW(PropertyList::parse(bytes), DecodingError) << bytes;
    }
}

TEST(PropertyListReadingTest, InputOverTheSizeOrNestingLimitIsRefused) {
    std::string atLimit = xmlDocument("<string>x</string>");
    atLimit.insert(atLimit.rfind("</plist>"), std::string(PropertyList::maximumSize - atLimit.size(), ' '));
    EXPECT_EQ(PropertyList::parse(atLimit), CFValue("x"));
    atLimit.insert(atLimit.rfind("</plist>"), " ");
    EXPECT_EQ(
        messageOf([&] { PropertyList::parse(atLimit); }),
        "The data couldn\xE2\x80\x99t be read because it isn\xE2\x80\x99t in the correct format: the property list is too large.");

    const std::string tooDeep =
        "The data couldn\xE2\x80\x99t be read because it isn\xE2\x80\x99t in the correct format: the property list is nested too deeply.";
    EXPECT_EQ(PropertyList::parse(nestedArraysXml(PropertyList::maximumDepth)),
              nestedArrays(PropertyList::maximumDepth));
    EXPECT_EQ(messageOf([] { PropertyList::parse(nestedArraysXml(PropertyList::maximumDepth + 1)); }),
              tooDeep);
    EXPECT_EQ(messageOf([] { PropertyList::parse(PropertyList::writeBinary(nestedArrays(3000))); }), tooDeep);
}

TEST(PropertyListReadingTest, DatesDataAndUIDsAreRefusedRatherThanMistyped) {
    // Data holding "run" must never pass for the text "run".
    EXPECT_EQ(
        messageOf([] { PropertyList::parse(xmlDocument("<array><data>cnVu</data></array>")); }),
        "The data couldn\xE2\x80\x99t be read because it isn\xE2\x80\x99t in the correct format: the property list holds data, which Tessaly does not read.");
    EXPECT_EQ(
        messageOf([] { PropertyList::parse(xmlDocument("<date>2020-01-01T00:00:00Z</date>")); }),
        "The data couldn\xE2\x80\x99t be read because it isn\xE2\x80\x99t in the correct format: the property list holds a date, which Tessaly does not read.");
}

TEST(PropertyListWritingTest,
     XmlAndBinaryReadBackUnchangedTellApartWriteWholeNumbersAsIntegersAndRefuseWhatHasNoForm) {
    const CFValue value = CFDictionary{{"Label", "com.orvanne.tessaly"},
                                       {"ProgramArguments", CFArray{"/path with spaces/<helper>&", "run"}},
                                       {"RunAtLoad", true},
                                       {"ThrottleInterval", 10},
                                       {"Level", 0.4},
                                       {"Nested", CFDictionary{{"Empty", CFArray{}}}}};
    EXPECT_EQ(PropertyList::parse(PropertyList::writeXml(value)), value);
    EXPECT_EQ(PropertyList::parse(PropertyList::writeBinary(value)), value);

    // Values without a property-list form are a programming error.
    EXPECT_THROW(PropertyList::writeXml(CFArray{AXUIElement(1)}), std::invalid_argument);
    EXPECT_THROW(PropertyList::writeBinary(CATapDescription{}), std::invalid_argument);
    EXPECT_THROW(PropertyList::writeXml(std::string("cut\0short", 9)), std::invalid_argument);

    // A format the reader tells apart, and whole numbers as integers: launchd reads keys such as
    // ThrottleInterval only as integers.
    const std::string xml = PropertyList::writeXml(CFDictionary{{"ThrottleInterval", 10}, {"Level", 0.5}});
    EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
    EXPECT_EQ(xml.substr(xml.size() - 9), "</plist>\n");  // no trailing NUL from the C buffer
    EXPECT_NE(xml.find("<integer>10</integer>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<real>0.5"), std::string::npos) << xml;
    EXPECT_EQ(PropertyList::writeBinary(value).rfind("bplist00", 0), 0u);
}

}  // namespace
}  // namespace tessaly
