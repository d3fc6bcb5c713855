#include "posix/PosixProcessEnvironment.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "foundation/FileSystem.h"
#include "values/PropertyList.h"

namespace tessaly {

namespace {

constexpr std::size_t infoPlistLimit = 1 << 20;

bool hasControllingTerminal() {
    const int fd = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

}  // namespace

MainBundle PosixProcessEnvironment::bundleOf(const std::string& executablePath) {
    const std::filesystem::path executable(executablePath);
    const std::filesystem::path macOS = executable.parent_path();
    const std::filesystem::path contents = macOS.parent_path();
    const std::filesystem::path bundlePath = contents.parent_path();
    MainBundle bundle;
    bundle.path = macOS.string();
    if (macOS.filename() != "MacOS" || contents.filename() != "Contents") return bundle;
    try {
        const std::string bytes = FileSystem::readBounded((contents / "Info.plist").string(), infoPlistLimit);
        if (bytes.size() > infoPlistLimit) return bundle;
        const CFValue info = PropertyList::parse(bytes);
        if (!info.dictionary()) return bundle;
        bundle.path = bundlePath.string();
        bundle.infoDictionary = *info.dictionary();
        auto identifier = bundle.infoDictionary.find("CFBundleIdentifier");
        if (identifier != bundle.infoDictionary.end() && identifier->second.text()) {
            bundle.identifier = *identifier->second.text();
        }
    } catch (const std::exception&) {
        // Without a readable Info.plist the executable is not in a bundle, as NSBundle sees it.
    }
    return bundle;
}

PosixProcessEnvironment::PosixProcessEnvironment() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) mainBundle_ = bundleOf(executable.string());
}

MainBundle PosixProcessEnvironment::mainBundle() const {
    return mainBundle_;
}

ProcessID PosixProcessEnvironment::processID() const {
    return ::getpid();
}

ProcessID PosixProcessEnvironment::parentProcessID() const {
    const bool startedAsApplication = ::getsid(0) == ::getpid() && !hasControllingTerminal();
    return startedAsApplication ? 1 : ::getppid();
}

std::uint32_t PosixProcessEnvironment::userID() const {
    return ::getuid();
}

}  // namespace tessaly
