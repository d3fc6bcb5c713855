#include <gtest/gtest.h>

#include "mac/MacLog.h"
#include "mac/standin/MacStandin.h"
#include "support/CapturingLog.h"

namespace tessaly {
namespace {

using Entry = testing::CapturingLog::Entry;

TEST(MacLogTest, WritesEachMessagePubliclyUnderTheSubsystemWithItsCategoryAndLevel) {
    testing::CapturingLog captured;
    MacStandin::routeLog(&captured);
    MacLog log;
    const std::vector<Entry> written = {
        {"command", LogLevel::debug, "status --json"},         {"mute", LogLevel::info, "guard on"},
        {"tap", LogLevel::defaultLevel, "100% %s %{public}@"}, {"preview", LogLevel::error, "failed"},
        {"authorization", LogLevel::fault, "no trust"},        {"mute", LogLevel::error, "again"},
    };
    for (const Entry& entry : written) log.write(entry.category, entry.level, entry.message);
    MacStandin::routeLog(nullptr);
    EXPECT_EQ(captured.entries, written);
}

}  // namespace
}  // namespace tessaly
