#include "posix/PosixMessagePorts.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cassert>
#include <cerrno>
#include <optional>
#include <utility>

#include "foundation/FileDescriptor.h"
#include "foundation/FileError.h"
#include "foundation/TessalyError.h"
#include "posix/AsioRunLoop.h"
#include "posix/MessagePortClient.h"
#include "posix/MessagePortServer.h"

namespace tessaly {

namespace {

// The status port belongs to the mute service, so its failures are logged under the service's
// category.
constexpr std::string_view logCategory = "mute";

bool isSameFile(int fd, const std::string& path) {
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) != 0 || ::lstat(path.c_str(), &named) != 0) return false;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// The exclusive lock that makes its holder the one server of a name; nothing when another live
// server holds it.
std::optional<FileSystem::FileDescriptor> lockName(const std::string& lockPath) {
    constexpr int attempts = 8;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        FileSystem::FileDescriptor lock(
            ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        if (!lock) throw FileError("Opening the lock file", lockPath, errno);
        if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) return std::nullopt;
            if (errno == EINTR) continue;
            throw FileError("Locking", lockPath, errno);
        }
        // A server that was just leaving may have removed the file we opened; a lock on that orphan
        // would guard nothing, so lock the file that is there now instead.
        if (isSameFile(lock.get(), lockPath)) return lock;
    }
    throw TessalyError("The lock file " + FileSystem::quoted(lockPath) + " keeps changing.");
}

}  // namespace

class PosixMessagePorts::Source : public MessagePortRunLoopSource {
public:
    explicit Source(std::shared_ptr<MessagePortServer> server) : server_(std::move(server)) {
        server_->addSource();
    }
    ~Source() override {
        assert(server_->loop().isMainThread() && "a message port's source is removed on the main thread");
        server_->removeSource();
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

private:
    std::shared_ptr<MessagePortServer> server_;
};

class PosixMessagePorts::Local : public LocalMessagePort {
public:
    explicit Local(std::shared_ptr<MessagePortServer> server) : server_(std::move(server)) {}
    ~Local() override { invalidate(); }
    Local(const Local&) = delete;
    Local& operator=(const Local&) = delete;

    std::unique_ptr<MessagePortRunLoopSource> createRunLoopSource() override {
        assertOnMainThread();
        if (!server_->isValid()) return nullptr;
        return std::make_unique<Source>(server_);
    }

    void invalidate() override {
        assertOnMainThread();
        server_->invalidate();
    }

    bool isValid() const override { return server_->isValid(); }

private:
    void assertOnMainThread() const {
        assert(server_->loop().isMainThread() && "a local message port is used on the main thread");
    }

    std::shared_ptr<MessagePortServer> server_;
};

PosixMessagePorts::PosixMessagePorts(RuntimeDirectory directory, AsioRunLoop& mainLoop, Log& log)
    : directory_(std::move(directory)), mainLoop_(&mainLoop), log_(&log) {}

PosixMessagePorts::PosixMessagePorts(RuntimeDirectory directory) : directory_(std::move(directory)) {}

MessagePorts::LocalPortCreation PosixMessagePorts::createLocal(const std::string& name, Callback callback) {
    if (mainLoop_ == nullptr) return {};
    assert(mainLoop_->isMainThread() && "a local message port is created on the main thread");
    try {
        if (!FileSystem::isPlainFileName(name)) throw TessalyError("The name cannot be used as a file name.");
        directory_.prepare();
        const auto socketPath = directory_.entry(name);
        if (!MessagePortClient::fitsSocketAddress(socketPath))
            throw TessalyError("Its socket path " + FileSystem::quoted(socketPath) + " is too long.");
        const auto lockPath = socketPath + ".lock";
        auto lock = lockName(lockPath);
        if (!lock) return {nullptr, true};
        auto server = std::make_shared<MessagePortServer>(*mainLoop_, *log_, std::move(callback), socketPath,
                                                          lockPath, std::move(*lock));
        try {
            server->listen();
        } catch (...) {
            server->invalidate();
            throw;
        }
        return {std::make_unique<Local>(std::move(server)), false};
    } catch (const Error& error) {
        logFailure(name, error.what());
        return {};
    }
}

std::unique_ptr<RemoteMessagePort> PosixMessagePorts::createRemote(const std::string& name) {
    if (!FileSystem::isPlainFileName(name)) return nullptr;
    try {
        if (!directory_.checkExisting()) return nullptr;
    } catch (const Error&) {
        // A refused folder cannot hold a port worth talking to.
        return nullptr;
    }
    return MessagePortClient::find(directory_.entry(name));
}

void PosixMessagePorts::logFailure(const std::string& name, const std::string& reason) {
    log_->write(logCategory, LogLevel::error,
                "Cannot create the message port " + FileSystem::quoted(name) + ". " + reason);
}

}  // namespace tessaly
