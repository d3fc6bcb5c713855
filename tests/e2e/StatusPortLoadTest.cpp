// A client of the same user that holds many connections to the status port open without a word
// must not starve the helper's other clients: `status` still answers within its own time-outs.

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "HelperFixture.h"
#include "foundation/FileDescriptor.h"

namespace tessaly::testing {
namespace {

class StatusPortLoadTest : public HelperFixture {
protected:
    ~StatusPortLoadTest() override {
        if (pid > 0 && !ProcessRunner::waitFor(pid, 0)) {
            ::kill(pid, SIGKILL);
            ProcessRunner::waitFor(pid, 5);
        }
    }

    int pid = -1;
};

TEST_F(StatusPortLoadTest, StatusAnswersWhileAHundredIdleConnectionsAreHeldOpen) {
    const std::string port = runtime / "com.orvanne.tessaly";
    pid = runner.start(TESSALY_HELPER_PATH, {"run"}, home / "run.out", home / "run.err");
    for (int attempt = 0; !std::filesystem::exists(port) || helper({"status"}).exitStatus != 0; ++attempt) {
        ASSERT_LT(attempt, 200) << "the helper did not answer: " << readFile(home / "run.err");
        ASSERT_FALSE(ProcessRunner::waitFor(pid, 0.05)) << "the helper ended: " << readFile(home / "run.err");
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", port.c_str());
    std::vector<FileSystem::FileDescriptor> idle;
    for (int index = 0; index < 100; ++index) {
        idle.emplace_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        ASSERT_EQ(::connect(idle.back().get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
            << "connection " << index;
    }

    const auto status = helper({"status"});

    EXPECT_EQ(status.exitStatus, 0) << status.err;
    EXPECT_EQ(status.out, "Quick Look audio memory is ON. Muted. Native previews: 0.\n");
}

}  // namespace
}  // namespace tessaly::testing
