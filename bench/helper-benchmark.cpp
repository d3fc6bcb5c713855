// Prints the helper's figures: the status round trip against a live helper beside a bare exchange
// on a Unix-domain socket (one connection per request, a server that does nothing but answer) and
// their ratio, the cost of one preview pass with 1 and 20 tracked previews, and the helper's
// resident memory after start and 20,000 status requests later (the setup window asks every 2 s, so
// a helper that grows with each request grows all day; the two figures must agree within 100 KiB).

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchmarkSupport.h"
#include "posix/AsioRunLoop.h"
#include "posix/MessagePortFrame.h"
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

/// A server that does nothing but the exchange: a child process that accepts one connection at a
/// time, reads the 4-byte request and writes a fixed reply of the status reply's size, then closes.
class BareServer {
public:
    BareServer(const std::string& path, std::size_t replySize) : address_(addressOf(path)) {
        const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listening < 0 ||
            ::bind(listening, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) != 0 ||
            ::listen(listening, SOMAXCONN) != 0)
            throw std::runtime_error("cannot listen at " + path);
        const std::string reply(replySize, 'x');
        pid_ = ::fork();
        if (pid_ == 0) {
            for (;;) {
                const int connection = ::accept(listening, nullptr, nullptr);
                if (connection < 0) continue;
                char request[4];
                if (::recv(connection, request, sizeof request, MSG_WAITALL) == sizeof request)
                    ::send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
                ::close(connection);
            }
        }
        ::close(listening);
    }
    ~BareServer() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    BareServer(const BareServer&) = delete;
    BareServer& operator=(const BareServer&) = delete;

    /// One exchange as a client: connect, send the request, read the reply to its end.
    void exchange() const {
        const int connection = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::connect(connection, reinterpret_cast<const sockaddr*>(&address_), sizeof address_);
        const char request[4] = {0, 0, 0, 1};
        ::send(connection, request, sizeof request, MSG_NOSIGNAL);
        char buffer[4096];
        while (::recv(connection, buffer, sizeof buffer, 0) > 0) {
        }
        ::close(connection);
    }

private:
    static sockaddr_un addressOf(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        return address;
    }

    sockaddr_un address_;
    pid_t pid_ = -1;
};

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
    // The first requests page in code the helper has not run before; growth is counted after them.
    constexpr int warmUpRequests = 100;
    for (int i = 0; i < warmUpRequests; ++i) tessaly::StatusClient::read(ports);
    const long rss = residentKiB(pid);

    const auto remote = ports.createRemote(std::string(tessaly::StatusClient::portName));
    const std::string reply = tessaly::StatusClient::send(tessaly::ServiceRequest::status, *remote);
    const BareServer bare(user.runtime + "/bare", tessaly::MessagePortFrame::encodeReply(reply).size());
    constexpr int timedRequests = 2000;
    constexpr int requests = 20000;
    std::vector<double> samples;
    std::vector<double> bareSamples;
    // The two exchanges take turns in runs of 50, so that whatever else the machine does weighs on
    // both alike and neither waits on the other's last exchange.
    constexpr int run = 50;
    for (int i = 0; i < requests; ++i) {
        const bool timed = i < 2 * timedRequests;
        const bool asBare = timed && (i / run) % 2 == 1;
        const auto start = Clock::now();
        asBare ? bare.exchange() : static_cast<void>(tessaly::StatusClient::read(ports));
        if (timed) (asBare ? bareSamples : samples).push_back(microseconds(Clock::now() - start));
    }
    const long rssAfterRequests = residentKiB(pid);
    const double median = percentile(samples, 0.5);
    const double bareMedian = percentile(bareSamples, 0.5);
    std::printf("status round trip (StatusClient::read, %d requests): median %.1f us, p99 %.1f us\n",
                timedRequests, median, percentile(samples, 0.99));
    std::printf(
        "bare Unix-socket exchange, a connection per request (%d requests): median %.1f us, p99 %.1f us\n",
        timedRequests, bareMedian, percentile(bareSamples, 0.99));
    std::printf("status round trip / bare exchange: %.2f (goal: at most 1.5)\n", median / bareMedian);
    std::printf("helper resident memory after start and %d status requests: %ld KiB\n", warmUpRequests, rss);
    std::printf("helper resident memory after %d more status requests: %ld KiB (%+ld KiB, %s)\n", requests,
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
