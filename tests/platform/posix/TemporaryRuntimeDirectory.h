#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "support/ScopedEnvironment.h"

namespace tessaly::testing {

/// A fresh folder, removed with everything in it afterwards.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = "/tmp/tessaly-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string entry(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

/// A private runtime folder (mode 0700) named in XDG_RUNTIME_DIR while the test runs.
class TemporaryRuntimeDirectory {
public:
    TemporaryRuntimeDirectory() : environment_("XDG_RUNTIME_DIR", folder_.path()) {}

    const std::string& path() const { return folder_.path(); }
    std::string entry(const std::string& name) const { return folder_.entry(name); }

private:
    TemporaryFolder folder_;
    ScopedEnvironment environment_;
};

}  // namespace tessaly::testing
