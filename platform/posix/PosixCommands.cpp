#include "posix/PosixCommands.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "foundation/FileDescriptor.h"
#include "foundation/FileError.h"

extern char** environ;

namespace tessaly {

namespace {

/// Offset of a signal death's exit code, as shells report it.
constexpr int signalExitOffset = 128;

/// posix_spawn's attribute and file-action objects, destroyed on every path out.
class SpawnSetup {
public:
    SpawnSetup() {
        ::posix_spawnattr_init(&attributes);
        ::posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
};

std::vector<char*> argumentVector(const std::string& path, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    return argv;
}

/// The pipe the program writes to, with both ends closed on exec, so that programs other threads
/// start meanwhile do not hold it open. Linux makes that atomic with pipe2. A Mac has no pipe2: there
/// the ends are marked right after pipe, and the program is spawned with Apple's
/// POSIX_SPAWN_CLOEXEC_DEFAULT, so it inherits only what its file actions name.
void openPipe(int (&fds)[2], const std::string& path) {
#ifdef POSIX_SPAWN_CLOEXEC_DEFAULT
    if (::pipe(fds) != 0) throw FileError("Launching", path, errno);
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#else
    if (::pipe2(fds, O_CLOEXEC) != 0) throw FileError("Launching", path, errno);
#endif
}

#ifdef POSIX_SPAWN_CLOEXEC_DEFAULT
constexpr short spawnFlags =
    POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_CLOEXEC_DEFAULT;
#else
constexpr short spawnFlags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP;
#endif

void prepare(SpawnSetup& setup, int outputFd) {
    sigset_t none;
    sigset_t all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    ::posix_spawnattr_setsigmask(&setup.attributes, &none);
    ::posix_spawnattr_setsigdefault(&setup.attributes, &all);
    ::posix_spawnattr_setflags(&setup.attributes, spawnFlags);
    // A group of its own: Ctrl-C in the caller's terminal reaches the caller, which lets the program
    // finish its step, and not the program (a launchctl bootout cut short).
    ::posix_spawnattr_setpgroup(&setup.attributes, 0);
    ::posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&setup.actions, outputFd, STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&setup.actions, outputFd, STDERR_FILENO);
}

std::string readToEnd(int fd, const std::string& path) {
    std::string output;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) throw FileError("Reading the output of", path, errno);
        if (count == 0) return output;
        output.append(buffer, static_cast<std::size_t>(count));
    }
}

int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return signalExitOffset + WTERMSIG(status);
    return signalExitOffset;
}

int waitForExit(pid_t pid, const std::string& path) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw FileError("Waiting for", path, errno);
    }
    return exitCodeOf(status);
}

}  // namespace

CommandResult PosixCommands::run(const std::string& path, const std::vector<std::string>& arguments) {
    int fds[2];
    openPipe(fds, path);
    FileSystem::FileDescriptor readEnd(fds[0]);
    FileSystem::FileDescriptor writeEnd(fds[1]);

    SpawnSetup setup;
    prepare(setup, writeEnd.get());
    const std::vector<char*> argv = argumentVector(path, arguments);
    pid_t pid = 0;
    const int result =
        ::posix_spawn(&pid, path.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
    if (result != 0) throw FileError("Launching", path, result);
    writeEnd.close();  // the program holds the only write end now: its exit ends the reading

    CommandResult commandResult;
    try {
        commandResult.output = readToEnd(readEnd.get(), path);
    } catch (...) {
        ::kill(pid, SIGKILL);  // the pipe broke while it runs: do not wait on a program nobody reads
        waitForExit(pid, path);
        throw;
    }
    commandResult.exitCode = waitForExit(pid, path);
    return commandResult;
}

}  // namespace tessaly
