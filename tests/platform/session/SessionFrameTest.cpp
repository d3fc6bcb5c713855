#include <gtest/gtest.h>

#include "foundation/DecodingError.h"
#include "session/SessionFrame.h"

namespace tessaly::testing {
namespace {

using SessionFrame::Reader;
using SessionFrame::Writer;

TEST(SessionFrameTest, EveryKindOfValueComesBackEqual) {
    CATapDescription tap = CATapDescription::stereoMixdownOfProcesses({7, 9});
    tap.name = "Tessaly - muted previews";
    tap.muteBehavior = CATapMuted;
    tap.bundleIDs = {"com.apple.quicklook.QuickLookUIService"};
    tap.deviceUID = "speakers";
    const CFValue value(CFDictionary{
        {"text", CFValue("Harbour – 40 %")},
        {"number", CFValue(0.4)},
        {"flag", CFValue(false)},
        {"element", CFValue(AXUIElement(1ull << 40))},
        {"tap", CFValue(tap)},
        {"nested", CFValue(CFArray{CFValue(CFDictionary{}), CFValue(CFArray{}), CFValue(-1)})},
    });
    Writer writer;
    writer.value(value)
        .optionalValue(std::nullopt)
        .address({fourCharCode("prs#"), 1, 2})
        .ids({3, 4})
        .texts({"a", ""});
    Reader reader(writer.bytes());
    EXPECT_EQ(reader.value(), value);
    EXPECT_EQ(reader.optionalValue(), std::nullopt);
    EXPECT_EQ(reader.address(), (AudioObjectPropertyAddress{fourCharCode("prs#"), 1, 2}));
    EXPECT_EQ(reader.ids(), (std::vector<std::uint32_t>{3, 4}));
    EXPECT_EQ(reader.texts(), (std::vector<std::string>{"a", ""}));
    EXPECT_NO_THROW(reader.finish());
}

TEST(SessionFrameTest, BytesThatAreNotAMessageAreRefusedWithoutAllocatingForThem) {
    const std::string nested = [] {
        std::string bytes;
        for (int level = 0; level <= SessionFrame::maxValueDepth; ++level)
            bytes += std::string("\x04\x00\x00\x00\x01", 5);
        return bytes;
    }();
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"truncated number", std::string("\x02\x3f\xf0", 3)},
        {"unknown type", std::string("\x09", 1)},
        {"count beyond the bytes", std::string("\x04\xff\xff\xff\xff", 5)},
        {"text beyond the bytes", std::string("\x01\x00\x00\x00\x05"
                                              "abc",
                                              8)},
        {"text not UTF-8", std::string("\x01\x00\x00\x00\x01\xff", 6)},
        {"boolean of 2", std::string("\x03\x02", 2)},
        {"repeated key", std::string("\x05\x00\x00\x00\x02"
                                     "\x00\x00\x00\x01k\x03\x01"
                                     "\x00\x00\x00\x01k\x03\x00",
                                     19)},
        {"nesting too deep", nested},
    };
    for (const auto& [name, bytes] : cases) {
        Reader reader(bytes);
        EXPECT_THROW(reader.value(), DecodingError) << name;
    }
    const std::string withTrailingByte("\x03\x01\x00", 3);
    Reader trailing(withTrailingByte);
    trailing.value();
    EXPECT_THROW(trailing.finish(), DecodingError);

    // A frame length above the limit.
    const unsigned char limit[4] = {0x00, 0x40, 0x00, 0x00};
    const unsigned char above[4] = {0x00, 0x40, 0x00, 0x01};
    EXPECT_EQ(SessionFrame::decodeLength(std::span<const unsigned char, 4>(limit)),
              SessionFrame::maxFrameSize);
    EXPECT_EQ(SessionFrame::decodeLength(std::span<const unsigned char, 4>(above)), std::nullopt);
}

}  // namespace
}  // namespace tessaly::testing
