#include "TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
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
// is made before the worker thread starts, so no program can be executed in between.
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

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (!makeWakeUpPipe(pipe_)) throw std::runtime_error("Cannot watch for quit signals.");
    writeEnd = pipe_[1];
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::drain);
    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : handledSignals) ::sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigemptyset(&defaultAction.sa_mask);
    for (const int signal : handledSignals) ::sigaction(signal, &defaultAction, nullptr);
    notifier_.reset();
    writeEnd = -1;
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void TerminationSignals::drain() {
    char bytes[64];
    while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
    emit received();
}

}  // namespace tessaly
