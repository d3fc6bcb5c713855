#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BalancedReferences.h"
#include "mac/CFConversion.h"
#include "values/CATapDescription.h"

namespace tessaly {
namespace {

using testing::expectBalancedReferences;

class CFConversionTest : public ::testing::Test {
protected:
    CFConversionTest() { testing::resetReferenceCounts(); }
    void TearDown() override { expectBalancedReferences(); }
};

struct RoundTrip {
    const char* name;
    CFValue value;
    CFTypeID (*type)();
};

TEST_F(CFConversionTest, EveryKindCrossesBothWaysUnchangedTextInUtf16UnitsAndBooleansAsTheSharedConstants) {
    CATapDescription tap = CATapDescription::stereoMixdownOfProcesses({41, 42});
    tap.name = "Tessaly - muted previews";
    tap.muteBehavior = CATapMuted;
    const std::vector<RoundTrip> cases = {
        {"text", CFValue("com.apple.quicklook.QuickLookUIService"), CFStringGetTypeID},
        {"text beyond ASCII", CFValue("Grüße 🎵"), CFStringGetTypeID},
        {"text with a NUL", CFValue(std::string("a\0b", 3)), CFStringGetTypeID},
        {"empty text", CFValue(""), CFStringGetTypeID},
        {"fraction", CFValue(0.4), CFNumberGetTypeID},
        {"negative integer", CFValue(-3), CFNumberGetTypeID},
        {"true", CFValue(true), CFBooleanGetTypeID},
        {"false", CFValue(false), CFBooleanGetTypeID},
        {"empty array", CFValue(CFArray{}), CFArrayGetTypeID},
        {"nested array", CFValue(CFArray{"uid", 1, CFArray{false}}), CFArrayGetTypeID},
        {"dictionary", CFValue(CFDictionary{{"uid", "A"}, {"private", 1}, {"taps", CFArray{CFDictionary{}}}}),
         CFDictionaryGetTypeID},
        {"tap description", CFValue(tap), nullptr},
    };
    for (const RoundTrip& entry : cases) {
        SCOPED_TRACE(entry.name);
        CFReference object = CFConversion::create(entry.value, nullptr);
        ASSERT_TRUE(object);
        if (entry.type != nullptr) {
            EXPECT_EQ(CFGetTypeID(object.get()), entry.type());
        }
        EXPECT_EQ(CFConversion::value(object.get(), nullptr), entry.value);
    }
    // Text is counted in UTF-16 units, and booleans are the shared constants.
    CFReference text = CFConversion::create(CFValue("Grüße 🎵"), nullptr);
    EXPECT_EQ(CFStringGetLength(text.as<CFStringRef>()), 8);
    CFReference yes = CFConversion::create(CFValue(true), nullptr);
    EXPECT_EQ(yes.get(), kCFBooleanTrue);
}

TEST_F(CFConversionTest, WhatHasNoCounterpartDoesNotCrossAndLeavesNothingBehind) {
    const std::string notUtf8 = "\xC3\x28";
    EXPECT_FALSE(CFConversion::create(CFValue(CFDictionary{{"name", "ok"}, {"uid", notUtf8}}), nullptr));
    EXPECT_FALSE(CFConversion::create(CFValue(CFArray{"ok", CFDictionary{{notUtf8, 1}}}), nullptr));
    EXPECT_FALSE(CFConversion::create(CFValue(AXUIElement(7)), nullptr));

    // A dictionary keyed by a number, inside an array.
    CFReference key = CFConversion::create(CFValue(1), nullptr);
    CFReference value = CFConversion::create(CFValue("one"), nullptr);
    const void* keys[] = {key.get()};
    const void* values[] = {value.get()};
    CFReference numbered = CFReference::adopt(CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1,
                                                                 &kCFTypeDictionaryKeyCallBacks,
                                                                 &kCFTypeDictionaryValueCallBacks));
    const void* entries[] = {value.get(), numbered.get()};
    CFReference array =
        CFReference::adopt(CFArrayCreate(kCFAllocatorDefault, entries, 2, &kCFTypeArrayCallBacks));
    EXPECT_EQ(CFConversion::value(array.get(), nullptr), std::nullopt);
}

#ifndef __APPLE__
// The balance check itself: a leak and a double release are both seen.
TEST(StandinReferenceCounts, SeeALeakAndADoubleRelease) {
    MacStandin::resetReferenceCounts();
    CFTypeRef leaked = CFConversion::create(CFValue(CFArray{"a"}), nullptr).release();
    EXPECT_EQ(MacStandin::referenceCounts().live, 2);
    EXPECT_FALSE(MacStandin::referenceCounts().balanced());
    CFRelease(leaked);
    EXPECT_TRUE(MacStandin::referenceCounts().balanced());
    CFRelease(leaked);
    EXPECT_EQ(MacStandin::referenceCounts().overReleased, 1u);
    CFRelease(kCFBooleanTrue);
    EXPECT_EQ(MacStandin::referenceCounts().overReleased, 2u);
    MacStandin::resetReferenceCounts();
}
#endif

}  // namespace
}  // namespace tessaly
