#pragma once

#include <string>

namespace tessaly::testing {

/// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return path_; }
    /// `path()` + "/" + `relative`.
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

/// Writes `bytes` to `path`, creating missing folders.
void writeFile(const std::string& path, const std::string& bytes);
/// The whole content of a file; fails the test when it cannot be read.
std::string readFile(const std::string& path);
/// The permission bits of a path (not following a link).
unsigned permissionsOf(const std::string& path);

}  // namespace tessaly::testing
