#include "foundation/FileError.h"

#include <cerrno>
#include <cstring>

#include "foundation/FileDescriptor.h"

namespace tessaly {

namespace {

std::string describe(const std::string& action, const std::string& path, int errorNumber) {
    std::string reason = std::strerror(errorNumber);
    return action + " " + FileSystem::quoted(path) + " failed: " + reason + ".";
}

}  // namespace

FileError::FileError(const std::string& action, const std::string& path, int errorNumber)
    : Error(describe(action, path, errorNumber)),
      code_(errorNumber == ENOENT ? Code::noSuchFile : Code::other),
      errorNumber_(errorNumber) {}

}  // namespace tessaly
