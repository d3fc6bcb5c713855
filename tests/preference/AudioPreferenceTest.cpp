#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "foundation/DecodingError.h"
#include "foundation/TessalyError.h"
#include "preference/AudioPreference.h"

namespace tessaly {
namespace {

std::string messageOf(double volume, double unmutedVolume) {
    try {
        AudioPreference::make(volume, unmutedVolume);
    } catch (const TessalyError& error) {
        return error.what();
    }
    return "";
}

const std::string rangeMessage = "Quick Look volume must be a finite number from zero to one.";
const std::string inconsistentMessage = "The saved audible volume is inconsistent with the preview volume.";

TEST(AudioPreferenceRules, AcceptsExactlyTheMutedAndAudibleShapes) {
    EXPECT_TRUE(AudioPreference::make(0, 0.4).isMuted());
    EXPECT_FALSE(AudioPreference::make(0.4, 0.4).isMuted());
    EXPECT_TRUE(AudioPreference::make(-0.0, 1).isMuted());
    EXPECT_EQ(AudioPreference::defaultPreference(), AudioPreference::make(0, 1));
}

TEST(AudioPreferenceRules, RefusesInconsistentPairsWithoutTolerance) {
    EXPECT_EQ(messageOf(0.4, 0.6), inconsistentMessage);
    EXPECT_EQ(messageOf(0, 0), inconsistentMessage);
    EXPECT_EQ(messageOf(0.4, std::nextafter(0.4, 1.0)), inconsistentMessage);
}

TEST(AudioPreferenceRules, ChecksTheRangeBeforeConsistency) {
    EXPECT_EQ(messageOf(1.5, 1.5), rangeMessage);
    EXPECT_EQ(messageOf(-0.1, 0.5), rangeMessage);
    EXPECT_EQ(messageOf(1.5, 0.2), rangeMessage);  // inconsistent as well
    EXPECT_EQ(messageOf(0, std::numeric_limits<double>::quiet_NaN()), rangeMessage);
    EXPECT_EQ(messageOf(std::numeric_limits<double>::infinity(), 1), rangeMessage);
}

TEST(AudioPreferenceDecoding, ChecksTheSchemaBeforeTheVolumes) {
    auto decode = [](const char* text) { return AudioPreference::fromJson(Json::parse(text)); };
    EXPECT_EQ(decode(R"({"schemaVersion":1,"volume":0,"unmutedVolume":0.4})"), AudioPreference::make(0, 0.4));
    EXPECT_EQ(decode(R"({"schemaVersion":1,"volume":1,"unmutedVolume":1,"extra":[1]})"),
              AudioPreference::make(1, 1));
    try {
        decode(R"({"schemaVersion":2,"volume":"loud"})");
        FAIL();
    } catch (const TessalyError& error) {
        EXPECT_STREQ(error.what(), "The saved audio preference uses an unsupported format.");
    }
    EXPECT_THROW(decode(R"({"volume":0,"unmutedVolume":1})"), DecodingError);
    EXPECT_THROW(decode(R"({"schemaVersion":1,"volume":"0","unmutedVolume":1})"), DecodingError);
    EXPECT_THROW(decode(R"({"schemaVersion":1.5,"volume":0,"unmutedVolume":1})"), DecodingError);
    EXPECT_THROW(decode(R"({"schemaVersion":1e19,"volume":0,"unmutedVolume":1})"), DecodingError);
    EXPECT_THROW(decode(R"([1])"), DecodingError);
    EXPECT_THROW(decode(R"({"schemaVersion":1,)"), DecodingError);
}

}  // namespace
}  // namespace tessaly
