#include "posix/SupervisorLock.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <string>

#include "foundation/FileDescriptor.h"

namespace tessaly {

namespace {

/// Seconds a supervisor has after its stop timeout to end on its own, and again after SIGKILL.
constexpr double grace = 2;

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
};

bool isNumber(const char* name) {
    if (*name == '\0') return false;
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') return false;
    }
    return true;
}

/// Whether process `pid` has the file open; false when it cannot be examined.
bool hasOpen(ProcessID pid, const FileIdentity& file) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* descriptors = ::opendir(folder.c_str());
    if (descriptors == nullptr) return false;
    bool found = false;
    while (const dirent* entry = ::readdir(descriptors)) {
        if (!isNumber(entry->d_name)) continue;
        struct stat info {};
        if (::stat((folder + "/" + entry->d_name).c_str(), &info) != 0) continue;
        if (info.st_dev == file.device && info.st_ino == file.inode) {
            found = true;
            break;
        }
    }
    ::closedir(descriptors);
    return found;
}

/// A pidfd for `pid`, but only when that process holds the file: the pidfd is taken first, so
/// the check is made on the very process it names.
FileSystem::FileDescriptor verifiedHandle(ProcessID pid, const FileIdentity& file) {
    FileSystem::FileDescriptor handle(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!handle || !hasOpen(pid, file)) return FileSystem::FileDescriptor();
    return handle;
}

void signal(const FileSystem::FileDescriptor& handle, int number) {
    ::syscall(SYS_pidfd_send_signal, handle.get(), number, nullptr, 0);
}

/// Waits until every handle's process has ended or `seconds` have passed; the handles left.
std::vector<FileSystem::FileDescriptor> waitForEnd(std::vector<FileSystem::FileDescriptor> handles,
                                                   double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!handles.empty()) {
        std::vector<pollfd> watched;
        for (const auto& handle : handles) watched.push_back({handle.get(), POLLIN, 0});
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        if (::poll(watched.data(), watched.size(), static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        std::vector<FileSystem::FileDescriptor> running;
        for (std::size_t i = 0; i < handles.size(); ++i) {
            if ((watched[i].revents & POLLIN) == 0) running.push_back(std::move(handles[i]));
        }
        handles = std::move(running);
    }
    return handles;
}

/// The parent of a live process of `/proc/<name>`, or nothing when it is gone or a zombie.
std::optional<ProcessID> liveParent(const std::string& name) {
    std::ifstream stream("/proc/" + name + "/stat");
    std::string line;
    std::getline(stream, line);
    // The command name in parentheses may hold anything; the fields follow its last ')'.
    const auto nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos || line.size() < nameEnd + 4) return std::nullopt;
    const char state = line[nameEnd + 2];
    if (state == 'Z' || state == 'X') return std::nullopt;
    try {
        return static_cast<ProcessID>(std::stol(line.substr(nameEnd + 4)));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

std::vector<ProcessID> SupervisorLock::programs() const {
    const std::vector<ProcessID> supervisors = holders();
    std::vector<ProcessID> found;
    if (supervisors.empty()) return found;
    DIR* processes = ::opendir("/proc");
    if (processes == nullptr) return found;
    while (const dirent* entry = ::readdir(processes)) {
        if (!isNumber(entry->d_name) || std::string(entry->d_name).size() > 9) continue;
        const auto parent = liveParent(entry->d_name);
        if (parent && std::find(supervisors.begin(), supervisors.end(), *parent) != supervisors.end())
            found.push_back(static_cast<ProcessID>(std::stol(entry->d_name)));
    }
    ::closedir(processes);
    return found;
}

std::vector<ProcessID> SupervisorLock::holders() const {
    struct stat lock {};
    if (::lstat(path_.c_str(), &lock) != 0 || !S_ISREG(lock.st_mode)) return {};
    const FileIdentity file{lock.st_dev, lock.st_ino};
    std::vector<ProcessID> found;
    DIR* processes = ::opendir("/proc");
    if (processes == nullptr) return found;
    const uid_t user = ::getuid();
    while (const dirent* entry = ::readdir(processes)) {
        if (!isNumber(entry->d_name) || std::string(entry->d_name).size() > 9) continue;
        struct stat owner {};
        if (::stat(("/proc/" + std::string(entry->d_name)).c_str(), &owner) != 0 || owner.st_uid != user)
            continue;
        const auto pid = static_cast<ProcessID>(std::stol(entry->d_name));
        if (pid != ::getpid() && hasOpen(pid, file)) found.push_back(pid);
    }
    ::closedir(processes);
    return found;
}

bool SupervisorLock::stopHolders(double stopTimeout) const {
    struct stat lock {};
    if (::lstat(path_.c_str(), &lock) != 0 || !S_ISREG(lock.st_mode)) return true;
    const FileIdentity file{lock.st_dev, lock.st_ino};
    std::vector<FileSystem::FileDescriptor> handles;
    for (const ProcessID pid : holders()) {
        if (auto handle = verifiedHandle(pid, file)) handles.push_back(std::move(handle));
    }
    for (const auto& handle : handles) signal(handle, SIGTERM);
    handles = waitForEnd(std::move(handles), stopTimeout + grace);
    for (const auto& handle : handles) signal(handle, SIGKILL);
    return waitForEnd(std::move(handles), grace).empty();
}

}  // namespace tessaly
