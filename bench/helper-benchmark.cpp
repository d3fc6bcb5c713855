// Prints the helper's figures: the status round trip against a live helper, the cost of one
// preview pass with 1 and 20 tracked previews, and the helper's resident memory after start and
// after 20,000 status requests (the setup window asks every 2 s, so a helper that grows with each
// request grows all day; the two figures must agree within 100 KiB).

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchmarkSupport.h"
#include "posix/AsioRunLoop.h"
#include "posix/PosixMessagePorts.h"
#include "preference/AudioPreference.h"
#include "preview/PreviewController.h"
#include "service/StatusClient.h"
#include "simulated/SimulatedDesktop.h"
#include "simulated/SimulatedWorkspace.h"

namespace {

using Clock = std::chrono::steady_clock;

class NullLog : public tessaly::Log {
public:
    void write(std::string_view, tessaly::LogLevel, std::string_view) override {}
};

double microseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::micro>(duration).count();
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

void benchmarkLiveHelper() {
    const IsolatedUser user("tessaly-bench");
    const pid_t pid = spawn(TESSALY_HELPER_PATH, "run");
    if (pid < 0) {
        std::printf("cannot start the helper\n");
        return;
    }
    tessaly::PosixMessagePorts ports(tessaly::RuntimeDirectory::forCurrentUser());
    for (int attempt = 0; attempt < 100 && !tessaly::StatusClient::isRunning(ports); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long rss = residentKiB(pid);

    constexpr int timedRequests = 2000;
    constexpr int requests = 20000;
    std::vector<double> samples;
    for (int i = 0; i < requests; ++i) {
        const auto start = Clock::now();
        tessaly::StatusClient::read(ports);
        if (i < timedRequests) samples.push_back(microseconds(Clock::now() - start));
    }
    const long rssAfterRequests = residentKiB(pid);
    std::printf("status round trip (StatusClient::read, %d requests): median %.1f us, p99 %.1f us\n",
                timedRequests, percentile(samples, 0.5), percentile(samples, 0.99));
    std::printf("helper resident memory after start: %ld KiB\n", rss);
    std::printf("helper resident memory after %d status requests: %ld KiB (%+ld KiB, %s)\n", requests,
                rssAfterRequests, rssAfterRequests - rss,
                std::labs(rssAfterRequests - rss) <= 100 ? "within 100 KiB" : "NOT within 100 KiB");

    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

void benchmarkPass(int previewCount) {
    NullLog log;
    tessaly::AsioRunLoop runLoop;  // notifications queue up; the loop is never turned
    tessaly::SimulatedDesktop desktop(runLoop);
    tessaly::SimulatedWorkspace workspace(desktop);
    desktop.launchApplication("com.apple.finder", 412);
    for (int i = 0; i < previewCount; ++i) {
        tessaly::SimulatedPreview::Setup setup;
        setup.document = "file:///Users/tess/Movies/clip-" + std::to_string(i) + ".mov";
        setup.title = "clip-" + std::to_string(i) + ".mov";
        setup.titleTexts = {*setup.title};
        desktop.openPreview(412, setup);
    }
    tessaly::PreviewController controller(
        desktop, workspace, runLoop, log, [](const tessaly::AudioPreference&) {}, [](const std::string&) {});
    const auto preference = tessaly::AudioPreference::make(0.5, 0.5);
    controller.synchronize(preference);  // the first pass restores; the measured ones change nothing

    std::vector<double> samples;
    for (int i = 0; i < 500; ++i) {
        const auto start = Clock::now();
        controller.synchronize(preference);
        samples.push_back(microseconds(Clock::now() - start));
    }
    std::printf(
        "preview pass with %2d tracked previews, nothing changed (500 passes): median %.1f us, p99 %.1f us\n",
        previewCount, percentile(samples, 0.5), percentile(samples, 0.99));
}

}  // namespace

int main() {
    benchmarkPass(1);
    benchmarkPass(20);
    benchmarkLiveHelper();
    return 0;
}
