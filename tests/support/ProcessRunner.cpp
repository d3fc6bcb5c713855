#include "support/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace tessaly::testing {

namespace {

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

int exitStatusOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int spawn(const std::string& program, const std::vector<std::string>& arguments,
          std::vector<std::string> environment, posix_spawn_file_actions_t* actions) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto argPointers = pointers(argv);
    auto envPointers = pointers(environment);
    pid_t pid = 0;
    int result = posix_spawn(&pid, program.c_str(), actions, nullptr, argPointers.data(), envPointers.data());
    if (result != 0) throw std::runtime_error("cannot start " + program);
    return pid;
}

}  // namespace

ProcessRunner::ProcessRunner(std::map<std::string, std::string> environment)
    : environment_(std::move(environment)) {
    if (!environment_.count("PATH")) {
        const char* path = std::getenv("PATH");
        environment_["PATH"] = path ? path : "/usr/bin:/bin";
    }
}

std::vector<std::string> ProcessRunner::environmentStrings() const {
    std::vector<std::string> strings;
    for (const auto& [key, value] : environment_) strings.push_back(key + "=" + value);
    return strings;
}

ProcessResult ProcessRunner::run(const std::string& program, const std::vector<std::string>& arguments,
                                 double timeoutSeconds) const {
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    int pid = spawn(program, arguments, environmentStrings(), &actions);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);

    ProcessResult result;
    const double deadline = monotonicSeconds() + timeoutSeconds;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    bool timedOut = false;
    while (open > 0) {
        int remaining = static_cast<int>((deadline - monotonicSeconds()) * 1000);
        if (remaining <= 0) {
            timedOut = true;
            break;
        }
        if (poll(fds, 2, remaining) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            ssize_t count = read(fds[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(count));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& fd : fds) {
        if (fd.fd >= 0) close(fd.fd);
    }
    if (timedOut) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitStatus = timedOut ? -1 : exitStatusOf(status);
    return result;
}

int ProcessRunner::start(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& outPath, const std::string& errPath) const {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int pid = spawn(program, arguments, environmentStrings(), &actions);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::optional<int> ProcessRunner::waitFor(int pid, double timeoutSeconds) {
    const double deadline = monotonicSeconds() + timeoutSeconds;
    while (true) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return exitStatusOf(status);
        if (done < 0 || monotonicSeconds() >= deadline) return std::nullopt;
        usleep(10'000);
    }
}

}  // namespace tessaly::testing
