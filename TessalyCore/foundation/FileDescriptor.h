#pragma once
// Small POSIX helpers shared by the core's file layer and the Linux implementations of the ports:
// an owned file descriptor, a write that finishes, a plain-file-name check and the curly-quoted
// form in which every message names a path.

#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace tessaly::FileSystem {

/// Owns one file descriptor and closes it on every path out. Never used in a forked child.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    /// Gives the descriptor up to a new owner; this one then closes nothing.
    int release() { return std::exchange(fd_, -1); }
    explicit operator bool() const { return fd_ >= 0; }
    /// Closes now and returns close's result (some file systems report a failed write only
    /// there); later calls and the destructor do nothing.
    int close() {
        const int result = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

/// Writes every byte, retrying after a signal and a short write; false with errno set on failure.
inline bool writeAll(int fd, const char* data, std::size_t size) {
    std::size_t written = 0;
    while (written < size) {
        const ssize_t count = ::write(fd, data + written, size - written);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return false;
        written += static_cast<std::size_t>(count);
    }
    return true;
}

/// Whether `name` is one plain file name: not empty, not "." or "..", no slash, no NUL.
inline bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

/// The text between curly quotes, as messages name paths and members: “text”.
inline std::string quoted(const std::string& text) {
    return "\xE2\x80\x9C" + text + "\xE2\x80\x9D";
}

}  // namespace tessaly::FileSystem
