#include "posix/PosixWorkspace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "foundation/FileDescriptor.h"
#include "foundation/FileError.h"
#include "foundation/FileSystem.h"
#include "foundation/TessalyError.h"
#include "posix/DetachedProcess.h"

namespace tessaly {

namespace {

constexpr const char* trashAction = "Moving to the Trash";
/// How many names ("name", "name.2", ...) are tried before trashing gives up.
constexpr int maximumNameAttempts = 10000;
/// Seconds xdg-open has to report how opening went. Some desktops keep it running until the
/// application it opened has been closed; it has done its work then.
constexpr double openerTimeout = 10;

std::string absolutePath(const std::string& path) {
    if (!path.empty() && path.front() == '/') return FileSystem::standardizedPath(path);
    char folder[PATH_MAX];
    if (::getcwd(folder, sizeof folder) == nullptr) throw FileError(trashAction, path, errno);
    return FileSystem::standardizedPath(std::string(folder) + "/" + path);
}

/// The path as the freedesktop.org Trash format stores it: every byte but unreserved URL characters and
/// '/' percent-encoded.
std::string percentEncoded(const std::string& path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char character : path) {
        const auto byte = static_cast<unsigned char>(character);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' || byte == '.' ||
                           byte == '~' || byte == '/';
        if (plain) {
            encoded += character;
            continue;
        }
        encoded += '%';
        encoded += hex[byte >> 4];
        encoded += hex[byte & 0x0F];
    }
    return encoded;
}

std::string localDeletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

bool isOccupied(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

/// Creates `path` only when nothing is there, so that two trashings never claim one name; false
/// when the name is taken.
bool createExclusively(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) return false;
    if (fd < 0) throw FileError("Writing", path, errno);
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t count = ::write(fd, content.data() + written, content.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(path.c_str());
            throw FileError("Writing", path, error);
        }
        written += static_cast<std::size_t>(count);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        throw FileError("Writing", path, error);
    }
    return true;
}

/// rename that never replaces what is at `to`; sets errno to EEXIST when something is there.
int moveWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL) return -1;
    // Some file systems lack RENAME_NOREPLACE; the name was free a moment ago, so check again.
    if (isOccupied(to)) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.c_str(), to.c_str());
}

/// The first folder of `searchPath` that holds an executable `name`. Empty entries (the current
/// folder) are skipped: what runs must not depend on where the application was started.
std::string findProgram(const std::string& name, const std::string& searchPath) {
    std::size_t start = 0;
    while (start <= searchPath.size()) {
        std::size_t end = searchPath.find(':', start);
        if (end == std::string::npos) end = searchPath.size();
        const std::string folder = searchPath.substr(start, end - start);
        start = end + 1;
        if (folder.empty()) continue;
        const std::string candidate = folder + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

/// The top of the file system `device` that holds `folder`: the highest folder on its way up that
/// is still on that device.
std::string mountPointOf(std::string folder, dev_t device) {
    while (folder != "/") {
        const std::string parent = FileSystem::parentPath(folder);
        struct stat info {};
        if (::stat((parent.empty() ? "/" : parent).c_str(), &info) != 0 || info.st_dev != device) break;
        folder = parent.empty() ? "/" : parent;
    }
    return folder;
}

/// `path` as a Trash of this user: created when missing; refused (nothing) when it is a link, not a
/// folder or another user's.
std::optional<std::string> privateTrash(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
        return std::nullopt;
    }
    for (const char* part : {"/files", "/info"}) {
        if (::mkdir((path + part).c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    }
    return path;
}

/// Bytes of disk space a folder and its contents use, as du -B1 counts them.
std::uint64_t diskUsage(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return 0;
    std::uint64_t total = static_cast<std::uint64_t>(info.st_blocks) * 512;
    if (!S_ISDIR(info.st_mode)) return total;
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) return total;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") total += diskUsage(path + "/" + name);
    }
    ::closedir(folder);
    return total;
}

/// Adds the trashed folder's line to the Trash's directorysizes cache: its size, the modification
/// time of its .trashinfo and its percent-encoded name. Replaced atomically, so a reader never
/// sees half a file; a cache that cannot be written only costs a file manager a recount.
void recordDirectorySize(const std::string& trash, const std::string& name, const std::string& infoPath) {
    struct stat info {};
    if (::stat(infoPath.c_str(), &info) != 0) return;
    const std::string cache = trash + "/directorysizes";
    std::string content;
    try {
        content = FileSystem::readBounded(cache, 1 << 24);
    } catch (const FileError&) {
    }
    if (!content.empty() && content.back() != '\n') content += '\n';
    content += std::to_string(diskUsage(trash + "/files/" + name)) + " " + std::to_string(info.st_mtime) +
               " " + percentEncoded(name) + "\n";
    try {
        FileSystem::writeAtomically(cache, content, 0600);
    } catch (const FileError&) {
    }
}

std::string trashFolderFromEnvironment() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    // The XDG base directory rules ignore a relative path.
    if (dataHome != nullptr && dataHome[0] == '/') return std::string(dataHome) + "/Trash";
    return FileSystem::homeDirectory() + "/.local/share/Trash";
}

std::string searchPathFromEnvironment() {
    const char* path = std::getenv("PATH");
    return path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
}

}  // namespace

PosixWorkspace::PosixWorkspace()
    : PosixWorkspace(trashFolderFromEnvironment(), searchPathFromEnvironment()) {}

PosixWorkspace::PosixWorkspace(std::string trashFolder, std::string searchPath)
    : trashFolder_(std::move(trashFolder)), searchPath_(std::move(searchPath)) {}

std::vector<RunningApplication> PosixWorkspace::runningApplications(const std::string&) const {
    return {};
}

bool PosixWorkspace::openURL(const std::string& url) {
    return openWithDesktop(url);
}

bool PosixWorkspace::revealFolder(const std::string& path) {
    const std::string folder = absolutePath(path);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    return openWithDesktop(folder);
}

bool PosixWorkspace::openWithDesktop(const std::string& argument) const {
    // xdg-open would read a leading '-' as an option.
    if (argument.empty() || argument.front() == '-') return false;
    const std::string program = findProgram("xdg-open", searchPath_);
    if (program.empty()) return false;
    try {
        const auto status = DetachedProcess(program, {"xdg-open", argument}).run(openerTimeout);
        // Still running at the deadline: it found an application, which keeps it waiting.
        return !status || (WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    } catch (const FileError&) {
        return false;
    }
}

std::string PosixWorkspace::trashFolderFor(const std::string& path) {
    return trashFor(absolutePath(path)).folder;
}

PosixWorkspace::Trash PosixWorkspace::trashFor(const std::string& item) const {
    struct stat itemInfo {};
    if (::lstat(item.c_str(), &itemInfo) != 0) throw FileError(trashAction, item, errno);
    FileSystem::createDirectories(trashFolder_ + "/files", 0700);
    FileSystem::createDirectories(trashFolder_ + "/info", 0700);
    struct stat homeTrash {};
    if (::stat(trashFolder_.c_str(), &homeTrash) != 0) throw FileError(trashAction, trashFolder_, errno);
    if (homeTrash.st_dev == itemInfo.st_dev) return {trashFolder_, ""};

    // Another file system: the Trash at the top of it, as the freedesktop.org Trash standard says.
    const std::string topdir = mountPointOf(FileSystem::parentPath(item), itemInfo.st_dev);
    const std::string uid = std::to_string(::getuid());
    const std::string shared = (topdir == "/" ? "" : topdir) + "/.Trash";
    struct stat sharedInfo {};
    // An administrator's $topdir/.Trash is used only when it is a real folder with the sticky bit.
    if (::lstat(shared.c_str(), &sharedInfo) == 0 && S_ISDIR(sharedInfo.st_mode) &&
        (sharedInfo.st_mode & S_ISVTX) != 0) {
        if (auto folder = privateTrash(shared + "/" + uid)) return {*folder, topdir};
    }
    if (auto folder = privateTrash(shared + "-" + uid)) return {*folder, topdir};
    throw TessalyError("Cannot move " + FileSystem::quoted(item) +
                       " to the Trash: no Trash on its file system at " + FileSystem::quoted(topdir) +
                       " can take it.");
}

void PosixWorkspace::trashItem(const std::string& path) {
    const std::string item = absolutePath(path);
    const std::string name = item.substr(item.find_last_of('/') + 1);
    if (name.empty()) throw FileError(trashAction, item, EINVAL);
    const Trash trash = trashFor(item);
    if (item == trash.folder || item.rfind(trash.folder + "/", 0) == 0) {
        throw TessalyError(FileSystem::quoted(item) + " is in the Trash already.");
    }
    struct stat itemInfo {};
    const bool isFolder = ::lstat(item.c_str(), &itemInfo) == 0 && S_ISDIR(itemInfo.st_mode);

    const std::string files = trash.folder + "/files";
    const std::string info = trash.folder + "/info";
    // A Trash at the top of another file system keeps paths relative to that top.
    const std::string recorded =
        trash.topdir.empty() ? item : item.substr(trash.topdir == "/" ? 1 : trash.topdir.size() + 1);
    const std::string trashInfo =
        "[Trash Info]\nPath=" + percentEncoded(recorded) + "\nDeletionDate=" + localDeletionDate() + "\n";

    for (int attempt = 1; attempt <= maximumNameAttempts; ++attempt) {
        const std::string candidate = attempt == 1 ? name : name + "." + std::to_string(attempt);
        const std::string destination = files + "/" + candidate;
        if (isOccupied(destination)) continue;  // left without its .trashinfo: not ours to replace
        const std::string infoPath = info + "/" + candidate + ".trashinfo";
        if (!createExclusively(infoPath, trashInfo)) continue;
        if (moveWithoutReplacing(item, destination) == 0) {
            if (isFolder) recordDirectorySize(trash.folder, candidate, infoPath);
            return;
        }
        const int error = errno;
        ::unlink(infoPath.c_str());
        if (error == EEXIST) continue;
        throw FileError(trashAction, item, error);
    }
    throw FileError(trashAction, item, EEXIST);
}

}  // namespace tessaly
