#include "mac/MacCommands.h"

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

constexpr int signalExitOffset = 128;

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

int waitForExit(pid_t pid, const std::string& path) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw FileError("Waiting for", path, errno);
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return signalExitOffset + WTERMSIG(status);
    return signalExitOffset;
}

}  // namespace

CommandResult MacCommands::run(const std::string& path, const std::vector<std::string>& arguments) {
    int fds[2];
    if (::pipe(fds) != 0) throw FileError("Launching", path, errno);
    FileSystem::FileDescriptor readEnd(fds[0]);
    FileSystem::FileDescriptor writeEnd(fds[1]);

    SpawnSetup setup;
    sigset_t none;
    sigset_t all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    ::posix_spawnattr_setsigmask(&setup.attributes, &none);
    ::posix_spawnattr_setsigdefault(&setup.attributes, &all);
    ::posix_spawnattr_setflags(&setup.attributes,
                               POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_CLOEXEC_DEFAULT);
    ::posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), STDERR_FILENO);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int result =
        ::posix_spawn(&pid, path.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
    if (result != 0) throw FileError("Launching", path, result);
    writeEnd.close();

    CommandResult commandResult;
    try {
        commandResult.output = readToEnd(readEnd.get(), path);
    } catch (...) {
        ::kill(pid, SIGKILL);
        waitForExit(pid, path);
        throw;
    }
    commandResult.exitCode = waitForExit(pid, path);
    return commandResult;
}

}  // namespace tessaly
