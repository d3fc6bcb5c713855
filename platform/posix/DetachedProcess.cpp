#include "posix/DetachedProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/FileDescriptor.h"
#include "foundation/FileError.h"

extern char** environ;

namespace tessaly {

namespace {

/// What the detached side tells the caller: one write smaller than PIPE_BUF, so it arrives whole.
struct Report {
    enum Kind : int { started = 1, failed = 2, busy = 3, ended = 4 };
    int kind = 0;
    int value = 0;  // the supervisor's pid when started, errno when failed, wait status when ended
};

/// Everything the forked children use, prepared before the fork so that they never allocate.
struct ChildPlan {
    const char* program = nullptr;
    char* const* argv = nullptr;
    char* const* envp = nullptr;
    int reportFd = -1;        // write end of the report pipe (close-on-exec)
    int goFd = -1;            // the supervisor's end of the go channel, or -1
    int parentReportFd = -1;  // the caller's ends, closed in the children
    int parentGoFd = -1;
    int openMax = 0;
    const char* lockPath = nullptr;
    KeepAlive keepAlive = KeepAlive::never;
    std::int64_t throttle = 0;     // nanoseconds
    std::int64_t stopTimeout = 0;  // nanoseconds
};

/// What the detached side does: execute the program, wait for it and report its end, or supervise it.
enum class Mode { launched, waited, supervised };

// ---- Run in the children: async-signal-safe system calls only. ----

void sendReport(int fd, Report::Kind kind, int value) {
    const Report report{kind, value};
    while (::write(fd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void failAndExit(const ChildPlan& plan, int errorNumber) {
    sendReport(plan.reportFd, Report::failed, errorNumber);
    ::_exit(127);
}

void resetSignalHandlers() {
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigemptyset(&defaultAction.sa_mask);
    // Handlers and ignored signals of the caller must not reach the program (SIGCHLD ignored would
    // even stop the supervisor from waiting). Signals that cannot be changed just fail here.
    for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &defaultAction, nullptr);
}

void closeRange(int first, int last, int openMax) {
    if (first > last) return;
    if (::close_range(static_cast<unsigned>(first), static_cast<unsigned>(last), 0) == 0) return;
    const int end = last < openMax ? last : openMax - 1;  // kernels before 5.9 have no close_range
    for (int fd = first; fd <= end; ++fd) ::close(fd);
}

/// Closes every descriptor above the standard three but `keep` and `alsoKeep` (-1: none).
void closeOtherDescriptors(int keep, int alsoKeep, int openMax) {
    if (keep > alsoKeep) std::swap(keep, alsoKeep);
    int next = 3;
    for (int kept : {keep, alsoKeep}) {
        if (kept < next) continue;
        closeRange(next, kept - 1, openMax);
        next = kept + 1;
    }
    closeRange(next, INT_MAX, openMax);
}

/// Working folder "/", standard streams on /dev/null, nothing else open but the channels.
void detach(const ChildPlan& plan) {
    resetSignalHandlers();
    if (::chdir("/") != 0) failAndExit(plan, errno);
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0) failAndExit(plan, errno);
    for (int stream = 0; stream <= 2; ++stream) {
        if (::dup2(null, stream) < 0) failAndExit(plan, errno);
    }
    if (null > 2) ::close(null);
    closeOtherDescriptors(plan.reportFd, plan.goFd, plan.openMax);
}

[[noreturn]] void execute(const ChildPlan& plan, bool reportFailure) {
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(plan.program, plan.argv, plan.envp);
    if (reportFailure) failAndExit(plan, errno);
    ::_exit(127);
}

/// Forks and executes the program as the leader of a process group of its own, which dies with
/// the supervisor; -1 when fork failed.
pid_t startProgram(const ChildPlan& plan, bool reportFailure) {
    const pid_t supervisor = ::getpid();
    const pid_t pid = ::_Fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
        if (::getppid() != supervisor) ::_exit(127);  // it died before the death signal was armed
        execute(plan, reportFailure);
    }
    if (pid > 0) ::setpgid(pid, pid);  // on both sides, so that the group exists when fork returns
    return pid;
}

std::int64_t monotonicNow() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

timespec timespecOf(std::int64_t nanoseconds) {
    return {static_cast<time_t>(nanoseconds / 1'000'000'000), static_cast<long>(nanoseconds % 1'000'000'000)};
}

/// The next of `signals` that arrives before `deadline` (monotonic nanoseconds), or 0.
int signalBefore(std::int64_t deadline, const sigset_t& signals) {
    for (;;) {
        const std::int64_t remaining = deadline - monotonicNow();
        if (remaining <= 0) return 0;
        const timespec wait = timespecOf(remaining);
        const int signal = ::sigtimedwait(&signals, nullptr, &wait);
        if (signal > 0) return signal;
        if (errno == EAGAIN) return 0;
    }
}

/// When `program` has ended: kills what it left in its group (its pid, still unreaped, cannot
/// have been given out again), reaps it and returns true with its wait status.
bool programEnded(pid_t program, int& status) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(program), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
    if (info.si_pid != program) return false;
    ::kill(-program, SIGKILL);
    while (::waitpid(program, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

/// Takes the supervisor's lock, or reports that another supervisor holds it and ends.
void takeLock(const ChildPlan& plan) {
    const int lock = ::open(plan.lockPath, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock < 0) failAndExit(plan, errno);
    if (::flock(lock, LOCK_EX | LOCK_NB) == 0) return;  // kept open, and so held, until the end
    if (errno != EWOULDBLOCK) failAndExit(plan, errno);
    sendReport(plan.reportFd, Report::busy, 0);
    ::_exit(0);
}

/// The supervisor. Its signals stay blocked (as the caller blocked them around fork) and are
/// taken with sigwaitinfo: no handler runs, so no signal can slip in between a check and a wait.
[[noreturn]] void runSupervisor(const ChildPlan& plan) {
    takeLock(plan);
    sendReport(plan.reportFd, Report::started, ::getpid());
    char go = 0;
    ssize_t received = 0;
    do {
        received = ::read(plan.goFd, &go, 1);
    } while (received < 0 && errno == EINTR);
    if (received != 1) ::_exit(0);  // the caller gave up: start nothing
    ::close(plan.goFd);
    ::prctl(PR_SET_NAME, "tessaly-login", 0, 0, 0);

    sigset_t stopSignals;
    ::sigemptyset(&stopSignals);
    ::sigaddset(&stopSignals, SIGTERM);
    ::sigaddset(&stopSignals, SIGINT);
    ::sigaddset(&stopSignals, SIGHUP);
    sigset_t awaited = stopSignals;
    ::sigaddset(&awaited, SIGCHLD);

    std::int64_t lastStart = monotonicNow();
    pid_t program = startProgram(plan, true);
    if (program < 0) failAndExit(plan, errno);
    ::close(plan.reportFd);  // the program's copy closes on exec: the caller then reads the end

    constexpr std::int64_t never = INT64_MAX;
    std::int64_t killAt = never;
    for (;;) {
        const int signal = killAt == never ? ::sigwaitinfo(&awaited, nullptr) : signalBefore(killAt, awaited);
        if (signal == 0) {  // the stop timeout passed
            ::kill(-program, SIGKILL);
            killAt = never - 1;  // still stopping, nothing more to time
            continue;
        }
        if (signal < 0) continue;
        if (signal != SIGCHLD) {
            if (killAt != never) continue;
            killAt = monotonicNow() + plan.stopTimeout;
            ::kill(program, SIGTERM);
            continue;
        }
        int status = 0;
        if (!programEnded(program, status)) continue;
        if (killAt != never || !restartsAfter(plan.keepAlive, status)) ::_exit(0);
        do {
            const std::int64_t delay = restartDelay(lastStart, monotonicNow(), plan.throttle);
            if (delay > 0 && signalBefore(monotonicNow() + delay, stopSignals) != 0) ::_exit(0);
            lastStart = monotonicNow();
            program = startProgram(plan, false);
        } while (program < 0);
    }
}

/// Runs the program and reports how it ended; the waiter's own report pipe stays open until then.
[[noreturn]] void runWaiter(const ChildPlan& plan) {
    const pid_t program = ::_Fork();
    if (program < 0) failAndExit(plan, errno);
    if (program == 0) execute(plan, true);
    int status = 0;
    while (::waitpid(program, &status, 0) < 0 && errno == EINTR) {
    }
    sendReport(plan.reportFd, Report::ended, status);
    ::_exit(0);
}

/// The first child: a new session, then the second fork, whose child is not the caller's.
[[noreturn]] void runIntermediate(const ChildPlan& plan, Mode mode) {
    ::close(plan.parentReportFd);
    if (plan.parentGoFd >= 0) ::close(plan.parentGoFd);
    ::setsid();
    const pid_t pid = ::_Fork();
    if (pid < 0) failAndExit(plan, errno);
    if (pid > 0) ::_exit(0);
    detach(plan);
    if (mode == Mode::supervised) runSupervisor(plan);
    if (mode == Mode::waited) runWaiter(plan);
    execute(plan, true);
}

// ---- Run in the caller. ----

/// Keeps a channel off the standard stream numbers, so that detaching cannot overwrite it.
FileSystem::FileDescriptor lifted(FileSystem::FileDescriptor fd, const std::string& program) {
    if (fd.get() > 2) return fd;
    const int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
    if (moved < 0) throw FileError("Launching", program, errno);
    return FileSystem::FileDescriptor(moved);
}

/// A close-on-exec pipe: its read end, then its write end.
std::pair<FileSystem::FileDescriptor, FileSystem::FileDescriptor> makePipe(const std::string& program) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw FileError("Launching", program, errno);
    FileSystem::FileDescriptor readEnd(fds[0]);
    FileSystem::FileDescriptor writeEnd(fds[1]);
    return {lifted(std::move(readEnd), program), lifted(std::move(writeEnd), program)};
}

/// A close-on-exec socket pair: a socket, unlike a pipe, can be written to without SIGPIPE when the
/// other side is gone.
std::pair<FileSystem::FileDescriptor, FileSystem::FileDescriptor> makeSocketPair(const std::string& program) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        throw FileError("Launching", program, errno);
    }
    FileSystem::FileDescriptor callerEnd(fds[0]);
    FileSystem::FileDescriptor childEnd(fds[1]);
    return {lifted(std::move(callerEnd), program), lifted(std::move(childEnd), program)};
}

std::vector<char*> pointersTo(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (const auto& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

int openDescriptorLimit() {
    const long limit = ::sysconf(_SC_OPEN_MAX);
    constexpr long ceiling = 1 << 20;  // only used without close_range; bounds the closing loop
    return static_cast<int>(limit > 0 && limit < ceiling ? limit : ceiling);
}

std::int64_t nanosecondsOf(double seconds) {
    if (!(seconds > 0)) return 0;
    return static_cast<std::int64_t>(std::min(seconds, 1e6) * 1e9);
}

/// Forks the first child with every signal blocked, so that no handler of the caller runs in it.
pid_t forkIntermediate(const ChildPlan& plan, Mode mode, const std::string& program) {
    sigset_t all;
    sigset_t previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::fork();
    if (pid == 0) runIntermediate(plan, mode);
    const int error = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) throw FileError("Launching", program, error);
    return pid;
}

void reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

/// Starts `program` detached in `mode`: `plan` is completed with the program, its arguments, this
/// environment and a new report pipe, the intermediate child is forked and reaped, and the caller's
/// end of the report pipe is returned.
FileSystem::FileDescriptor startDetached(const std::string& program,
                                         const std::vector<std::string>& arguments, Mode mode,
                                         ChildPlan plan) {
    const std::vector<char*> argv = pointersTo(arguments);
    auto [reportRead, reportWrite] = makePipe(program);
    plan.program = program.c_str();
    plan.argv = argv.data();
    plan.envp = environ;
    plan.reportFd = reportWrite.get();
    plan.parentReportFd = reportRead.get();
    plan.openMax = openDescriptorLimit();
    const pid_t intermediate = forkIntermediate(plan, mode, program);
    reportWrite.close();
    reap(intermediate);
    return std::move(reportRead);
}

/// The next report, or nothing when every writer has closed the pipe.
std::optional<Report> readReport(int fd) {
    Report report;
    ssize_t count = 0;
    do {
        count = ::read(fd, &report, sizeof report);
    } while (count < 0 && errno == EINTR);
    if (count != static_cast<ssize_t>(sizeof report)) return std::nullopt;
    return report;
}

/// Waits for the report pipe until `deadline`; false when it stayed silent.
bool readableBefore(int fd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd watched{fd, POLLIN, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

}  // namespace

DetachedProcess::DetachedProcess(std::string program, std::vector<std::string> arguments)
    : program_(std::move(program)), arguments_(std::move(arguments)) {
    if (arguments_.empty()) arguments_.push_back(program_);
}

void DetachedProcess::launch() const {
    const FileSystem::FileDescriptor reportRead = startDetached(program_, arguments_, Mode::launched, {});
    // The pipe closes when the program is executed; a report comes only when that failed.
    const auto report = readReport(reportRead.get());
    if (report && report->kind == Report::failed) throw FileError("Launching", program_, report->value);
}

std::optional<int> DetachedProcess::run(double timeout) const {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                               std::chrono::duration<double>(std::min(timeout, 1e6)));
    const FileSystem::FileDescriptor reportRead = startDetached(program_, arguments_, Mode::waited, {});
    if (!readableBefore(reportRead.get(), deadline)) return std::nullopt;
    const auto report = readReport(reportRead.get());
    if (!report) throw FileError("Launching", program_, EIO);
    if (report->kind == Report::failed) throw FileError("Launching", program_, report->value);
    return report->value;
}

std::optional<ProcessID> DetachedProcess::supervise(const Supervision& supervision,
                                                    const std::function<bool(ProcessID)>& beforeStart) const {
    auto [goCaller, goSupervisor] = makeSocketPair(program_);
    ChildPlan plan;
    plan.goFd = goSupervisor.get();
    plan.parentGoFd = goCaller.get();
    plan.lockPath = supervision.lockPath.c_str();
    plan.keepAlive = supervision.keepAlive;
    plan.throttle = nanosecondsOf(supervision.throttleInterval);
    plan.stopTimeout = nanosecondsOf(supervision.stopTimeout);
    const FileSystem::FileDescriptor reportRead = startDetached(program_, arguments_, Mode::supervised, plan);
    goSupervisor.close();

    const auto first = readReport(reportRead.get());
    if (!first) throw FileError("Launching", program_, EIO);
    if (first->kind == Report::failed) throw FileError("Launching", program_, first->value);
    if (first->kind == Report::busy) return std::nullopt;
    const ProcessID supervisor = first->value;
    // Taken while the supervisor waits for the go, so that it names that very process later.
    const FileSystem::FileDescriptor handle(static_cast<int>(::syscall(SYS_pidfd_open, supervisor, 0)));

    // When it answers false or throws, closing goCaller tells the supervisor to end.
    if (!beforeStart(supervisor)) return std::nullopt;
    const char go = 'g';
    ssize_t sent = 0;
    do {
        sent = ::send(goCaller.get(), &go, 1, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != 1) throw FileError("Launching", program_, errno);
    goCaller.close();

    const auto second = readReport(reportRead.get());
    if (second && second->kind == Report::failed) {
        // A program that cannot be executed would fail again at every restart: the supervisor ends.
        ::syscall(SYS_pidfd_send_signal, handle.get(), SIGKILL, nullptr, 0);
        throw FileError("Launching", program_, second->value);
    }
    return supervisor;
}

}  // namespace tessaly
