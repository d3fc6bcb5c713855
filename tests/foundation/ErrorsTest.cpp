#include <gtest/gtest.h>

#include "foundation/AudioHardwareError.h"
#include "foundation/PreviewAccessibilityError.h"

namespace tessaly {
namespace {

TEST(PlatformCallErrors, DescribeTheOperationAndTheSignedStatus) {
    EXPECT_STREQ(AudioHardwareError("Creating a mute tap", 560947818).what(),
                 "Creating a mute tap failed (Core Audio status 560947818).");
    EXPECT_STREQ(AudioHardwareError("Reading audio object 7", -50).what(),
                 "Reading audio object 7 failed (Core Audio status -50).");
    EXPECT_STREQ(PreviewAccessibilityError("Reading AXRole", -25204).what(),
                 "Reading AXRole failed (Accessibility status -25204).");
}

}  // namespace
}  // namespace tessaly
