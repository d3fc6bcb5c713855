#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "foundation/Version.h"
#include "support/RealProcesses.h"
#include "support/UserFixture.h"

namespace tessaly::testing {
namespace {

/// A helper started with `run` in the background, stopped at the end of the test if still there.
class HelperServiceTest : public UserFixture {
protected:
    ~HelperServiceTest() override {
        if (pid > 0 && !ProcessRunner::waitFor(pid, 0)) {
            ::kill(pid, SIGKILL);
            ProcessRunner::waitFor(pid, 5);
        }
    }

    std::string preferenceFolder() const { return home / "Library/Application Support/Tessaly"; }
    std::string preferenceFile() const { return preferenceFolder() + "/audio.json"; }
    std::string portPath() const { return runtime / "com.orvanne.tessaly"; }

    /// Starts `run` and waits until its status port answers.
    void startHelper() {
        pid = runner.start(TESSALY_HELPER_PATH, {"run"}, home / "run.out", home / "run.err");
        ASSERT_TRUE(eventually([&] {
            return std::filesystem::exists(portPath()) && helper({"status"}).exitStatus == 0;
        })) << "the helper did not start: "
            << readFile(home / "run.err");
    }

    int pid = -1;
};

// Idle clients holding connections open are the transport's to bear (its own tests hold a hundred).
TEST_F(HelperServiceTest, FirstStartWritesThePrivateFileAndReportsMutedInTextAndJson) {
    startHelper();
    EXPECT_EQ(permissionsOf(preferenceFolder()), 0700u);
    EXPECT_EQ(permissionsOf(preferenceFile()), 0600u);

    auto status = helper({"status"});
    EXPECT_EQ(status.exitStatus, 0);
    EXPECT_EQ(status.out, "Quick Look audio memory is ON. Muted. Native previews: 0.\n");
    EXPECT_EQ(status.err, "");
    status = helper({"status", "--json"});
    EXPECT_EQ(status.exitStatus, 0);
    EXPECT_EQ(
        status.out.rfind("{\n  \"accessibilityTrusted\" : true,\n  \"mode\" : \"remember-volume\",\n", 0), 0u)
        << status.out;
    EXPECT_NE(status.out.find("  \"muteGuard\" : {\n    \"activeProcessCount\" : 0,\n"), std::string::npos);
    EXPECT_TRUE(
        status.out.ends_with("  \"version\" : \"" + std::string(version) + "\",\n  \"volume\" : 0\n}\n"));
}

TEST_F(HelperServiceTest, AKilledHelperIsReplacedASecondOneRefusedAndStopEndsTheFirst) {
    startHelper();
    ::kill(pid, SIGKILL);
    ProcessRunner::waitFor(pid, 10);
    EXPECT_TRUE(std::filesystem::exists(portPath()));  // left behind
    startHelper();

    // What the running helper saved is not the second one's to rewrite.
    const std::string saved = R"({"schemaVersion":1,"volume":0,"unmutedVolume":0.6})";
    writeFile(preferenceFile(), saved);
    auto second = helper({"run"});
    EXPECT_EQ(readFile(preferenceFile()), saved);
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_EQ(second.err,
              "Tessaly: Another Tessaly helper is already running, or its status port is unavailable.\n");

    auto stop = helper({"stop"});
    EXPECT_EQ(stop.exitStatus, 0);
    EXPECT_EQ(stop.out, "");
    EXPECT_EQ(ProcessRunner::waitFor(pid, 10), 0);
    EXPECT_FALSE(std::filesystem::exists(portPath()));
    EXPECT_EQ(helper({"stop"}).exitStatus, 0);  // nothing left to stop
    auto status = helper({"status"});
    EXPECT_EQ(status.exitStatus, 1);
    EXPECT_EQ(status.err,
              "Tessaly: Quick Look audio memory is off or unavailable. Open Tessaly to enable it.\n");
}

// Which files are refused is the preference store's to check; here the executable reports it and
// leaves the file and the port alone.
TEST_F(HelperServiceTest, AnUnusablePreferenceFileStopsRunAndIsLeftAsItWas) {
    const std::string oversized(4097, ' ');
    writeFile(preferenceFile(), oversized);
    auto run = helper({"run"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.err, "Tessaly: The saved audio preference is not a regular, small configuration file.\n");
    EXPECT_EQ(readFile(preferenceFile()), oversized);
    EXPECT_FALSE(std::filesystem::exists(portPath()));
}

}  // namespace
}  // namespace tessaly::testing
