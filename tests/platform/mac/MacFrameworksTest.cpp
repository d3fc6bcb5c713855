// What a Mac answers without asking the user, asked through the Mac adapters and judged only by what
// they return: on a Mac the real frameworks (scripts/test runs this there), here the stand-ins,
// routed into a real run loop, the Linux socket ports and the simulations. What needs a grant the
// user gives (Accessibility trust, audio capture) is skipped with a line that says so where it is
// not given.

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioHardware.h"
#include "audio/MuteTap.h"
#include "mac/MacAccessibility.h"
#include "mac/MacCoreAudio.h"
#include "mac/MacMessagePorts.h"
#include "mac/MacProcessEnvironment.h"
#include "mac/MacRunLoop.h"
#include "mac/MacServiceManagement.h"
#include "mac/MacWorkspace.h"
#include "support/CapturingLog.h"
#ifndef __APPLE__
#include "mac/standin/MacStandin.h"
#include "posix/AsioRunLoop.h"
#include "posix/PosixMessagePorts.h"
#include "simulated/SimulatedCoreAudio.h"
#include "simulated/SimulatedDesktop.h"
#include "simulated/SimulatedServiceManagement.h"
#include "simulated/SimulatedWorkspace.h"
#include "support/TemporaryDirectory.h"
#endif

extern char** environ;

namespace tessaly {
namespace {

/// Set in the process that serves the port of the two-process test, to the port's name.
constexpr const char* servedPortVariable = "TESSALY_TEST_SERVED_PORT";

std::filesystem::path testProgram() {
    return std::filesystem::canonical(::testing::internal::GetArgvs().at(0));
}

#ifdef __APPLE__
struct Frameworks {};  // the system's own
#else
/// A runtime folder of the test's own, handed down to the process it starts (which uses it).
RuntimeDirectory runtimeIn(const testing::TemporaryDirectory& folder) {
    if (std::getenv(servedPortVariable) == nullptr) ::setenv("XDG_RUNTIME_DIR", folder.path().c_str(), 1);
    return RuntimeDirectory::forCurrentUser();
}

/// The stand-in frameworks' routes, for one test.
struct Frameworks {
    Frameworks() {
        bareExecutable.path = testProgram().parent_path().string();
        audio.addProcess("com.apple.quicklook.QuickLookUIService", 4100);
        desktop.launchApplication("com.apple.finder", 300);
        MacStandin::routeMainQueue(&loop);
        MacStandin::routeMessagePorts(&ports);
        MacStandin::routeCoreAudio(&audio);
        MacStandin::routeAccessibility(&desktop);
        MacStandin::routeWorkspace(&workspace);
        MacStandin::routeServiceManagement(&loginItems);
        MacStandin::routeMainBundle(&bareExecutable);
    }
    ~Frameworks() {
        MacStandin::routeMainBundle(nullptr);
        MacStandin::routeServiceManagement(nullptr);
        MacStandin::routeWorkspace(nullptr);
        MacStandin::routeAccessibility(nullptr);
        MacStandin::routeCoreAudio(nullptr);
        MacStandin::routeMessagePorts(nullptr);
        MacStandin::routeMainQueue(nullptr);
    }
    testing::TemporaryDirectory runtime;
    AsioRunLoop loop;
    testing::CapturingLog log;
    PosixMessagePorts ports{runtimeIn(runtime), loop, log};
    SimulatedCoreAudio audio;
    SimulatedDesktop desktop{loop};
    SimulatedWorkspace workspace{desktop};
    SimulatedServiceManagement loginItems{"com.orvanne.tessaly.agent.plist"};
    MainBundle bareExecutable;
};
#endif

class MacFrameworks : public ::testing::Test {
protected:
    Frameworks frameworks;
    MacRunLoop loop;
    testing::CapturingLog log;
};

TEST_F(MacFrameworks, TheMainQueueRunsPostsInOrderThenADelayUntilStopped) {
    std::vector<int> ran;
    const double start = loop.now();
    loop.postAfter(0.05, [&] {
        ran.push_back(3);
        loop.stop();
    });
    loop.post([&] { ran.push_back(1); });
    loop.post([&] { ran.push_back(2); });
    const auto bound = loop.makeTimer(10, 10, 0, [&] { loop.stop(); });  // if the delay never comes
    EXPECT_TRUE(loop.isMainThread());
    loop.run();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_GE(loop.now() - start, 0.05);
}

// The serving end of the next test, in a process of its own: "pong" to 1, no reply to 2, and it
// ends after answering 0 (or after 20 s).
TEST_F(MacFrameworks, DISABLED_ServesThePortOfAnotherProcess) {
    const char* name = std::getenv(servedPortVariable);
    ASSERT_NE(name, nullptr);
    MacMessagePorts ports;
    auto created = ports.createLocal(name, [&](std::int32_t message) -> std::optional<std::string> {
        if (message == 0) loop.post([&] { loop.stop(); });
        if (message == 1) return std::string("pong");
        return std::nullopt;
    });
    ASSERT_TRUE(created.port);
    const auto source = created.port->createRunLoopSource();
    ASSERT_TRUE(source);
    const auto bound = loop.makeTimer(20, 20, 0, [&] { loop.stop(); });
    loop.run();
}

TEST_F(MacFrameworks, AMessagePortAnswersAnotherProcessAndItsNoReplyIsNoAnswer) {
    const std::string name = "com.orvanne.tessaly.test." + std::to_string(::getpid());
    const std::string variable = std::string(servedPortVariable) + "=" + name;
    std::vector<char*> environment{const_cast<char*>(variable.c_str())};
    for (char** entry = environ; *entry != nullptr; ++entry) environment.push_back(*entry);
    environment.push_back(nullptr);
    const std::string program = testProgram().string();
    std::vector<std::string> arguments = {
        program, "--gtest_also_run_disabled_tests",
        "--gtest_filter=MacFrameworks.DISABLED_ServesThePortOfAnotherProcess"};
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t server = 0;
    ASSERT_EQ(::posix_spawn(&server, program.c_str(), nullptr, nullptr, argv.data(), environment.data()), 0);

    MacMessagePorts ports;
    std::unique_ptr<RemoteMessagePort> remote;
    for (int attempt = 0; attempt < 500 && !remote; ++attempt) {
        remote = ports.createRemote(name);
        if (!remote) std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the server starts
    }
    ASSERT_TRUE(remote) << "the other process never served " << name;
    EXPECT_EQ(remote->sendRequest(1, 1, 5), (MessagePortReply{kCFMessagePortSuccess, "pong"}));
    const MessagePortReply none = remote->sendRequest(2, 1, 5);
    EXPECT_EQ(none.status, kCFMessagePortSuccess);
    EXPECT_TRUE(!none.data || none.data->empty());
    remote->sendRequest(0, 1, 5);
    int status = 0;
    ASSERT_EQ(::waitpid(server, &status, 0), server);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(MacFrameworks, TheTestProgramIsABareExecutableOfNoBundle) {
    MacProcessEnvironment process;
    const MainBundle bundle = process.mainBundle();
    EXPECT_EQ(bundle.identifier, std::nullopt);
    EXPECT_EQ(std::filesystem::canonical(bundle.path), testProgram().parent_path());
    EXPECT_EQ(process.processID(), ::getpid());
    EXPECT_EQ(process.parentProcessID(), ::getppid());
}

TEST_F(MacFrameworks, CoreAudioListsItsProcessesWithTheirPidsAndALoginItemOutsideTheBundleIsNotFound) {
    MacCoreAudio audio;
    for (AudioObjectID process :
         AudioHardware::objectIDs(audio, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList)) {
        EXPECT_GT(AudioHardware::integer(audio, process, kAudioProcessPropertyPID), 0u) << process;
    }
    EXPECT_EQ(MacServiceManagement().status("com.orvanne.tessaly.test.plist"), SMAppServiceStatusNotFound);
}

TEST_F(MacFrameworks, WithAccessibilityTrustFindersApplicationElementAnswers) {
    MacAccessibility accessibility;
    if (!accessibility.isProcessTrusted()) {
        GTEST_SKIP() << "needs Accessibility trust for the program running the tests (System Settings > "
                        "Privacy & Security > Accessibility)";
    }
    const auto finders = MacWorkspace().runningApplications("com.apple.finder");
    ASSERT_FALSE(finders.empty());
    std::optional<CFValue> role;
    const AXUIElement finder = accessibility.createApplication(finders.front().processIdentifier);
    EXPECT_EQ(accessibility.copyAttributeValue(finder, "AXRole", role), kAXErrorSuccess);
    EXPECT_EQ(role, CFValue("AXApplication"));
}

TEST_F(MacFrameworks, WithTheAudioCaptureGrantAMuteTapIsMadeAndRemoved) {
#ifdef __APPLE__
    if (std::getenv("TESSALY_AUDIO_CAPTURE_GRANTED") == nullptr) {
        GTEST_SKIP() << "needs the audio capture grant, which macOS asks for at the first tap; set "
                        "TESSALY_AUDIO_CAPTURE_GRANTED=1 once it is given";
    }
#endif
    MacCoreAudio audio;
    const auto processes =
        AudioHardware::objectIDs(audio, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
    if (processes.empty()) GTEST_SKIP() << "no process plays audio, so there is none to tap";
    const MuteTap tap =
        MuteTap::create(audio, log, CATapDescription::stereoMixdownOfProcesses({processes[0]}));
    EXPECT_FALSE(tap.uid.empty());
    EXPECT_EQ(tap.remove(audio), std::nullopt);
}

}  // namespace
}  // namespace tessaly
