#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace tessaly::testing {

/// Sets an environment variable for the lifetime of the object, then puts the old value back.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) previous_ = old;
        set(value);
    }
    ~ScopedEnvironment() { set(previous_); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    void set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }

    std::string name_;
    std::optional<std::string> previous_;
};

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
