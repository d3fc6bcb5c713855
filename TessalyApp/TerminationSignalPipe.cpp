#include "TerminationSignalPipe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace tessaly {

namespace {

constexpr int handledSignals[] = {SIGTERM, SIGHUP, SIGINT};

/// The write end for the handler; a signal handler can reach nothing but a global.
volatile sig_atomic_t writeEnd = -1;

void onSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a wake-up: the byte may be dropped.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    errno = savedErrno;
}

// A close-on-exec, non-blocking pipe. pipe2 would say it in one call, but macOS lacks it; the pipe
// is made before any worker thread starts, so no program can be executed in between.
bool makeWakeUpPipe(int (&ends)[2]) {
    if (::pipe(ends) != 0) return false;
    for (const int fd : ends) {
        if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(fd, F_SETFL, O_NONBLOCK) != 0) {
            ::close(ends[0]);
            ::close(ends[1]);
            return false;
        }
    }
    return true;
}

}  // namespace

TerminationSignalPipe::TerminationSignalPipe() {
    if (!makeWakeUpPipe(ends_)) throw std::runtime_error("Cannot watch for quit signals.");
    writeEnd = ends_[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : handledSignals) ::sigaction(signal, &action, nullptr);
}

TerminationSignalPipe::~TerminationSignalPipe() {
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigemptyset(&defaultAction.sa_mask);
    for (const int signal : handledSignals) ::sigaction(signal, &defaultAction, nullptr);
    writeEnd = -1;
    ::close(ends_[0]);
    ::close(ends_[1]);
}

bool TerminationSignalPipe::drain() {
    bool received = false;
    char bytes[64];
    while (::read(ends_[0], bytes, sizeof bytes) > 0) received = true;
    return received;
}

bool TerminationSignalPipe::waitFor(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (drain()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd watched{ends_[0], POLLIN, 0};
        ::poll(&watched, 1, static_cast<int>(left.count()));  // EINTR: the next round looks again
    }
}

}  // namespace tessaly
