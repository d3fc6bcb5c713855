#include "foundation/FileSystem.h"

#include "foundation/FileDescriptor.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "foundation/FileError.h"

namespace tessaly::FileSystem {

namespace {

LinkStatus statusFrom(const struct stat& info) {
    LinkStatus status;
    status.isRegularFile = S_ISREG(info.st_mode);
    status.isDirectory = S_ISDIR(info.st_mode);
    status.isSymbolicLink = S_ISLNK(info.st_mode);
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.owner = info.st_uid;
    status.permissions = info.st_mode & 07777;
    return status;
}

}  // namespace

LinkStatus linkStatus(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) throw FileError("Reading", path, errno);
    return statusFrom(info);
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string readBounded(const std::string& path, std::size_t limit) {
    // O_NONBLOCK keeps a FIFO swapped in for the file from blocking the open.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) throw FileError("Reading", path, errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) throw FileError("Reading", path, errno);
    if (!S_ISREG(info.st_mode)) throw FileError("Reading", path, EINVAL);

    std::string bytes(limit + 1, '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        ssize_t count = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) throw FileError("Reading", path, errno);
        if (count == 0) break;
        filled += static_cast<std::size_t>(count);
    }
    bytes.resize(filled);
    return bytes;
}

void createDirectories(const std::string& path, std::uint32_t permissions) {
    if (path.empty()) return;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return;
        throw FileError("Creating the folder", path, ENOTDIR);
    }
    const std::string parent = parentPath(path);
    if (parent != path) createDirectories(parent, permissions);
    if (::mkdir(path.c_str(), permissions) != 0) {
        if (errno == EEXIST) return;  // made by someone else meanwhile; the caller checks what it is
        throw FileError("Creating the folder", path, errno);
    }
    // mkdir applies the umask; the folder must have exactly the permissions asked for.
    if (::chmod(path.c_str(), permissions) != 0) throw FileError("Creating the folder", path, errno);
}

void writeAtomically(const std::string& path, const std::string& bytes, std::uint32_t permissions) {
    const std::string folder = parentPath(path);
    const std::string name = path.substr(path.find_last_of('/') + 1);
    std::string temporary = folder + "/." + name + ".XXXXXX";
    std::vector<char> pattern(temporary.begin(), temporary.end());
    pattern.push_back('\0');

    FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (fd.get() < 0) throw FileError("Writing", path, errno);
    temporary = pattern.data();
    try {
        if (!writeAll(fd.get(), bytes.data(), bytes.size())) throw FileError("Writing", path, errno);
        if (::fchmod(fd.get(), permissions) != 0) throw FileError("Setting the permissions of", path, errno);
        if (::fsync(fd.get()) != 0) throw FileError("Writing", path, errno);
        if (fd.close() != 0) throw FileError("Writing", path, errno);
        if (::rename(temporary.c_str(), path.c_str()) != 0) throw FileError("Writing", path, errno);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    // Make the rename itself durable; the content is already in place, so this is best effort.
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) ::fsync(directory.get());
}

std::string parentPath(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

std::uint32_t currentUserID() {
    return ::getuid();
}

std::string standardizedPath(const std::string& path) {
    if (path.empty()) return path;
    const bool absolute = path.front() == '/';
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string segment = path.substr(start, end - start);
        start = end + 1;
        if (segment.empty() || segment == ".") continue;
        if (segment != "..") {
            segments.push_back(std::move(segment));
        } else if (!segments.empty() && segments.back() != "..") {
            segments.pop_back();
        } else if (!absolute) {
            segments.push_back(std::move(segment));  // a relative path may climb above its start
        }
    }
    std::string result = absolute ? "/" : "";
    for (const auto& segment : segments) {
        if (!result.empty() && result.back() != '/') result += '/';
        result += segment;
    }
    return result.empty() ? "." : result;
}

std::string resolvingSymbolicLinks(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) throw FileError("Resolving", path, errno);
    return resolved.get();
}

std::string symbolicLinkDestination(const std::string& path) {
    // A link's size in lstat is unreliable on some file systems, so grow until the text fits.
    for (std::size_t capacity = 256;; capacity *= 2) {
        std::string buffer(capacity, '\0');
        ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (length < 0) throw FileError("Reading the link", path, errno);
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
    }
}

void removeFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0) throw FileError("Removing", path, errno);
}

}  // namespace tessaly::FileSystem
