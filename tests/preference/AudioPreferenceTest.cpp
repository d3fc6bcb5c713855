#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "foundation/DecodingError.h"
#include "preference/AudioPreference.h"
#include "support/ErrorMessage.h"

namespace tessaly {
namespace {

TEST(AudioPreferenceRules, AcceptsExactlyTheMutedAndAudibleShapesAndChecksTheRangeFirst) {
    EXPECT_TRUE(AudioPreference::make(0, 0.4).isMuted());
    EXPECT_FALSE(AudioPreference::make(0.4, 0.4).isMuted());
    EXPECT_TRUE(AudioPreference::make(-0.0, 1).isMuted());
    EXPECT_EQ(AudioPreference::defaultPreference(), AudioPreference::make(0, 1));

    const std::string range = "Quick Look volume must be a finite number from zero to one.";
    const std::string inconsistent = "The saved audible volume is inconsistent with the preview volume.";
    const std::tuple<double, double, std::string> refused[] = {
        // No tolerance.
        {0.4, 0.6, inconsistent},
        {0, 0, inconsistent},
        {0.4, std::nextafter(0.4, 1.0), inconsistent},
        {1.5, 1.5, range},
        {-0.1, 0.5, range},
        {1.5, 0.2, range},  // inconsistent as well
        {0, std::numeric_limits<double>::quiet_NaN(), range},
        {std::numeric_limits<double>::infinity(), 1, range},
    };
    for (const auto& [volume, unmutedVolume, message] : refused) {
        EXPECT_EQ(testing::messageOf([&] { AudioPreference::make(volume, unmutedVolume); }), message)
            << volume << " " << unmutedVolume;
    }
}

TEST(AudioPreferenceDecoding, ChecksTheSchemaBeforeTheVolumes) {
    auto decode = [](const char* text) { return AudioPreference::fromJson(Json::parse(text)); };
    EXPECT_EQ(decode(R"({"schemaVersion":1,"volume":0,"unmutedVolume":0.4})"), AudioPreference::make(0, 0.4));
    EXPECT_EQ(decode(R"({"schemaVersion":1,"volume":1,"unmutedVolume":1,"extra":[1]})"),
              AudioPreference::make(1, 1));
    EXPECT_EQ(testing::messageOf([&] { decode(R"({"schemaVersion":2,"volume":"loud"})"); }),
              "The saved audio preference uses an unsupported format.");
    for (const char* malformed :
         {R"({"volume":0,"unmutedVolume":1})", R"({"schemaVersion":1,"volume":"0","unmutedVolume":1})",
          R"({"schemaVersion":1.5,"volume":0,"unmutedVolume":1})",
          R"({"schemaVersion":1e19,"volume":0,"unmutedVolume":1})", R"([1])", R"({"schemaVersion":1,)"}) {
        EXPECT_THROW(decode(malformed), DecodingError) << malformed;
    }
}

}  // namespace
}  // namespace tessaly
