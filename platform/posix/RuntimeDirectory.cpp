#include "posix/RuntimeDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "foundation/FileDescriptor.h"
#include "foundation/FileError.h"
#include "foundation/TessalyError.h"

namespace tessaly {

namespace {

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

void refuse(const std::string& path, const std::string& problem) {
    throw TessalyError("The runtime folder " + FileSystem::quoted(path) + " " + problem);
}

}  // namespace

RuntimeDirectory RuntimeDirectory::forCurrentUser() {
    const char* configured = std::getenv("XDG_RUNTIME_DIR");
    if (configured != nullptr && configured[0] == '/') return RuntimeDirectory(configured);
    return RuntimeDirectory("/tmp/tessaly-" + std::to_string(::getuid()));
}

RuntimeDirectory::RuntimeDirectory(std::string path)
    : path_(withoutTrailingSlashes(std::move(path))), owner_(::geteuid()) {}

std::string RuntimeDirectory::entry(const std::string& name) const {
    return path_ == "/" ? "/" + name : path_ + "/" + name;
}

bool RuntimeDirectory::checkExisting() const {
    struct stat info {};
    if (::lstat(path_.c_str(), &info) != 0) {
        if (errno == ENOENT) return false;
        throw FileError("Checking the runtime folder", path_, errno);
    }
    if (S_ISLNK(info.st_mode)) refuse(path_, "is a symbolic link; Tessaly does not follow links there.");
    if (!S_ISDIR(info.st_mode)) refuse(path_, "is not a folder.");
    if (info.st_uid != owner_) refuse(path_, "belongs to another user.");
    if ((info.st_mode & 077) != 0) refuse(path_, "is open to other users; its permissions must be 0700.");
    return true;
}

void RuntimeDirectory::prepare() const {
    if (checkExisting()) return;
    if (::mkdir(path_.c_str(), 0700) != 0) {
        // Another helper may have made it a moment ago; then it is checked like any other.
        if (errno != EEXIST) throw FileError("Creating the runtime folder", path_, errno);
        checkExisting();
        return;
    }
    // The umask may have taken bits away; the owner needs all three.
    const FileSystem::FileDescriptor folder(
        ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) throw FileError("Opening the runtime folder", path_, errno);
    if (::fchmod(folder.get(), 0700) != 0)
        throw FileError("Setting the permissions of the runtime folder", path_, errno);
    checkExisting();
}

}  // namespace tessaly
