// The Unix-domain socket transport under the message ports: its files, its defences against
// clients that misbehave, and the result codes a client gets from servers that misbehave.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <latch>
#include <string>
#include <thread>
#include <tuple>

#include "MessagePortsFixture.h"
#include "foundation/FileDescriptor.h"
#include "foundation/FileSystem.h"
#include "posix/MessagePortFrame.h"
#include "posix/MessagePortServer.h"

namespace tessaly {
namespace {

using namespace std::chrono_literals;
using FileSystem::exists;
using FileSystem::FileDescriptor;
using testing::CapturingLog;
using testing::failure;
using testing::LoopThread;
using testing::receiveTimeout;
using testing::sendTimeout;
using testing::success;
using testing::TemporaryDirectory;
using Clock = std::chrono::steady_clock;

const std::string portName = "com.orvanne.tessaly";
// Bounds for things that must happen, generous so that a loaded machine does not fail the test.
constexpr auto promptly = 1500ms;
constexpr auto eventually = 5s;

// Raw sockets the test drives by hand, to play a misbehaving client or server.

FileDescriptor unixSocket(int flags = 0) {
    return FileDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0));
}

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

bool connectTo(const FileDescriptor& socket, const std::string& path) {
    const auto address = addressOf(path);
    return ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// A socket connected to `path`, or none.
FileDescriptor connectedTo(const std::string& path) {
    auto socket = unixSocket();
    return connectTo(socket, path) ? std::move(socket) : FileDescriptor();
}

FileDescriptor listeningAt(const std::string& path, int backlog = 16) {
    auto socket = unixSocket();
    const auto address = addressOf(path);
    if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket.get(), backlog) != 0) {
        return FileDescriptor();
    }
    return socket;
}

bool sendBytes(const FileDescriptor& socket, const std::string& bytes) {
    return ::send(socket.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

std::string requestBytes(std::int32_t messageID) {
    const auto request = MessagePortFrame::encodeRequest(messageID);
    return {request.begin(), request.end()};
}

bool readable(int fd, std::chrono::milliseconds within) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(within.count())) > 0;
}

// Whether the peer hangs up in time, whether or not data is still waiting to be read.
bool hungUpWithin(const FileDescriptor& socket, std::chrono::milliseconds within) {
    pollfd entry{socket.get(), POLLRDHUP, 0};
    return ::poll(&entry, 1, static_cast<int>(within.count())) > 0 && (entry.revents & (POLLRDHUP | POLLHUP));
}

// Reads until the peer hangs up; the byte count, or -1 when it does not hang up in time.
long long drainUntilClosed(const FileDescriptor& socket, std::chrono::milliseconds within) {
    const auto deadline = Clock::now() + within;
    long long total = 0;
    std::array<char, 65536> buffer{};
    while (Clock::now() < deadline) {
        if (!readable(socket.get(),
                      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())))
            break;
        const ssize_t count = ::recv(socket.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (count == 0 || (count < 0 && errno == ECONNRESET)) return total;
        if (count > 0) total += count;
    }
    return -1;
}

// A stand-in server at the port's socket: it hangs up on the first connection (the client's probe
// for a live server, which the client keeps for its request and must then replace) and lets
// `respond` handle the second, the request.
class FakeServer {
public:
    FakeServer(const std::string& path, std::function<void(int)> respond)
        : listener_(listeningAt(path)), thread_([this, respond] {
              FileDescriptor(::accept(listener_.get(), nullptr, nullptr)).close();
              FileDescriptor request(::accept(listener_.get(), nullptr, nullptr));
              if (request) respond(request.get());
          }) {}
    ~FakeServer() {
        ::shutdown(listener_.get(), SHUT_RDWR);
        thread_.join();
    }
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

private:
    FileDescriptor listener_;
    std::thread thread_;
};

class PosixMessagePortsTest : public testing::MessagePortsFixture {
protected:
    PosixMessagePortsTest() : MessagePortsFixture(portName) { harness_ = &harness; }

    std::string socketPath() const { return directory.entry(portName); }

    MessagePorts::LocalPortCreation createLocal(PosixMessagePorts& other, const std::string& name) {
        return loopThread.call([&] { return other.createLocal(name, [](std::int32_t) { return "x"; }); });
    }

    std::vector<std::string> logged() {
        return loopThread.call([this] { return log.messages("mute"); });
    }

    testing::PosixHarness harness;
    testing::TemporaryRuntimeDirectory& directory = harness.directory;
    CapturingLog& log = harness.log;
    LoopThread& loopThread = harness.loopThread;
    PosixMessagePorts& ports = harness.posix;
};

// ---- Files ----

using PosixMessagePortFiles = PosixMessagePortsTest;

TEST_F(PosixMessagePortFiles, PortIsAPrivateSocketNextToItsLockUntilInvalidatedAndTakesOverFilesLeftBehind) {
    LocalMessagePort* port = serveEcho();
    ASSERT_NE(port, nullptr);

    struct stat info {};
    ASSERT_EQ(::lstat(socketPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(exists(socketPath() + ".lock"));

    loopThread.call([&] { port->invalidate(); });
    EXPECT_FALSE(exists(socketPath()));
    EXPECT_FALSE(exists(socketPath() + ".lock"));
    stopServing();

    // Files left by a server that died are taken over.
    const std::pair<std::string, std::function<void()>> leftovers[] = {
        {"a socket nobody listens on", [&] { listeningAt(socketPath()); }},  // closed, its file stays
        {"a lock file nobody holds", [&] { ::close(::creat((socketPath() + ".lock").c_str(), 0600)); }},
    };
    for (const auto& [what, leave] : leftovers) {
        leave();
        EXPECT_EQ(ports.createRemote(portName), nullptr) << what;

        serveEcho();

        EXPECT_EQ(send(1), success("reply to 1")) << what;
        stopServing();
    }
}

TEST_F(PosixMessagePortFiles, NameLockedByAnotherLiveServerIsRefusedAndItsSocketKept) {
    const auto otherServer = listeningAt(socketPath());
    const FileDescriptor otherLock(::open((socketPath() + ".lock").c_str(), O_CREAT | O_RDWR, 0600));
    ASSERT_EQ(::flock(otherLock.get(), LOCK_EX), 0);

    auto creation = createLocal(ports, portName);

    EXPECT_EQ(creation.port, nullptr);
    EXPECT_TRUE(creation.shouldFreeInfo);
    EXPECT_TRUE(connectedTo(socketPath())) << "the live server's socket was removed";
}

TEST_F(PosixMessagePortFiles, TwoServersStartingAtOnceNeverBothWin) {
    CapturingLog otherLog;
    LoopThread otherThread;
    PosixMessagePorts otherPorts(RuntimeDirectory::forCurrentUser(), otherThread.loop(), otherLog);

    for (int round = 0; round < 25; ++round) {
        std::latch start(2);
        auto attempt = [&](LoopThread& thread, PosixMessagePorts& candidate) {
            return thread.call([&] {
                start.arrive_and_wait();
                return candidate.createLocal(portName, [](std::int32_t) { return "winner"; });
            });
        };
        auto first = std::async(std::launch::async, attempt, std::ref(loopThread), std::ref(ports));
        auto second = std::async(std::launch::async, attempt, std::ref(otherThread), std::ref(otherPorts));
        auto mine = first.get();
        auto theirs = second.get();

        EXPECT_EQ((mine.port != nullptr) + (theirs.port != nullptr), 1) << "round " << round;
        EXPECT_EQ(mine.shouldFreeInfo, theirs.port != nullptr) << "round " << round;
        EXPECT_EQ(theirs.shouldFreeInfo, mine.port != nullptr) << "round " << round;
        loopThread.call([&] { mine.port.reset(); });
        otherThread.call([&] { theirs.port.reset(); });
    }
}

// ---- Refusals ----

using PosixMessagePortRefusals = PosixMessagePortsTest;

TEST_F(PosixMessagePortRefusals, UnusableNameOrPlaceGivesNoPortAndSaysWhy) {
    const std::string link = directory.entry("link");
    TemporaryDirectory target;
    ASSERT_EQ(::symlink(target.path().c_str(), link.c_str()), 0);
    const std::string longName(120, 'n');
    struct Case {
        std::string name;
        std::string folder;
        std::function<void()> prepare;
        std::string reason;
    };
    const Case cases[] = {
        {"a/b", directory.path(), [] {}, "The name cannot be used as a file name."},
        {"..", directory.path(), [] {}, "The name cannot be used as a file name."},
        {"", directory.path(), [] {}, "The name cannot be used as a file name."},
        {longName, directory.path(), [] {},
         "Its socket path " + FileSystem::quoted(directory.entry(longName)) + " is too long."},
        {portName, link, [] {},
         "The runtime folder " + FileSystem::quoted(link) +
             " is a symbolic link; Tessaly does not follow links there."},
        {portName, directory.path(), [&] { ::close(::creat(socketPath().c_str(), 0600)); },
         "Something other than a socket is in the way at " + FileSystem::quoted(socketPath()) + "."},
    };
    for (const auto& [name, folder, prepare, reason] : cases) {
        prepare();
        CapturingLog caseLog;
        PosixMessagePorts casePorts(RuntimeDirectory(folder), loopThread.loop(), caseLog);

        auto creation = createLocal(casePorts, name);

        EXPECT_EQ(creation.port, nullptr) << name;
        EXPECT_FALSE(creation.shouldFreeInfo) << name;
        EXPECT_EQ(casePorts.createRemote(name), nullptr) << name;
        EXPECT_EQ(loopThread.call([&] { return caseLog.messages("mute"); }),
                  std::vector<std::string>{"Cannot create the message port " + FileSystem::quoted(name) +
                                           ". " + reason});
    }
    EXPECT_TRUE(exists(socketPath())) << "what was in the way was removed";
    EXPECT_FALSE(exists(socketPath() + ".lock")) << "a port that failed keeps no lock";
}

TEST_F(PosixMessagePortRefusals, ClientOnlyPortsCannotServeNorCreateAMissingRuntimeFolder) {
    PosixMessagePorts clientPorts{RuntimeDirectory::forCurrentUser()};
    serveEcho();

    auto creation = clientPorts.createLocal(portName + ".client", [](std::int32_t) { return "x"; });

    EXPECT_EQ(creation.port, nullptr);
    EXPECT_FALSE(creation.shouldFreeInfo);
    auto remote = clientPorts.createRemote(portName);
    ASSERT_NE(remote, nullptr);
    EXPECT_EQ(remote->sendRequest(1, sendTimeout, receiveTimeout), success("reply to 1"));

    // Only a server creates a missing runtime folder.
    const std::string nested = directory.entry("nested");
    EXPECT_EQ(PosixMessagePorts{RuntimeDirectory(nested)}.createRemote(portName), nullptr);
    EXPECT_FALSE(exists(nested));
    PosixMessagePorts nestedPorts(RuntimeDirectory(nested), loopThread.loop(), log);
    auto served = createLocal(nestedPorts, portName);
    ASSERT_NE(served.port, nullptr);
    EXPECT_EQ(testing::permissionsOf(nested), 0700u);
    loopThread.call([&] { served.port.reset(); });
}

TEST_F(PosixMessagePortRefusals, PeerOfAnotherUserIsClosedWithoutAnAnswer) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
    serveEcho();
    // Let the other user reach the socket; the server's own check is what is under test.
    ::chmod(directory.path().c_str(), 0711);
    ::chmod(socketPath().c_str(), 0666);

    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
        const auto client = connectedTo(socketPath());
        if (!client) ::_exit(11);
        // The server may hang up before the request is even written.
        if (!sendBytes(client, requestBytes(1))) ::_exit(errno == EPIPE || errno == ECONNRESET ? 0 : 12);
        char byte = 0;
        const ssize_t count = ::recv(client.get(), &byte, 1, 0);
        ::_exit(count == 0 || (count < 0 && errno == ECONNRESET) ? 0 : 13);
    }
    ASSERT_GT(child, 0);
    int status = -1;
    const auto deadline = Clock::now() + eventually;
    while (::waitpid(child, &status, WNOHANG) == 0 && Clock::now() < deadline) std::this_thread::yield();
    if (Clock::now() >= deadline) ::kill(child, SIGKILL);

    ::chmod(directory.path().c_str(), 0700);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(received().empty());
    EXPECT_EQ(logged(), std::vector<std::string>{"Refused a local connection from another user."});
}

// ---- Clients that misbehave ----

using PosixMessagePortMisbehavingClients = PosixMessagePortsTest;

TEST_F(PosixMessagePortMisbehavingClients, SilentOrPartialClientsDoNotDelayOthersAndAreHungUpOn) {
    serveEcho();
    {
        std::vector<FileDescriptor> crowd;
        for (int index = 0; index < 100; ++index) {
            crowd.push_back(connectedTo(socketPath()));
            ASSERT_TRUE(crowd.back());
        }
        const auto started = Clock::now();
        EXPECT_EQ(send(1), success("reply to 1"));
        EXPECT_LT(Clock::now() - started, promptly) << "a crowd of silent clients delayed a request";
    }
    for (const std::string& sent : {std::string(), requestBytes(1).substr(0, 2)}) {
        const auto client = connectedTo(socketPath());
        ASSERT_TRUE(sendBytes(client, sent));

        const auto started = Clock::now();
        EXPECT_EQ(send(2), success("reply to 2"));
        EXPECT_LT(Clock::now() - started, promptly);

        EXPECT_EQ(drainUntilClosed(client, eventually), 0) << sent.size() << " bytes sent";
    }
    EXPECT_EQ(received().size(), 3u) << "a partial request was answered";
}

TEST_F(PosixMessagePortMisbehavingClients, ClientThatNeverReadsItsReplyCannotStallTheServer) {
    const std::string huge(MessagePortFrame::maxReplySize, 'x');
    serve(portName, [&huge](std::int32_t messageID) -> std::optional<std::string> {
        if (messageID == 99) return huge;
        return "small";
    });
    const auto stalled = connectedTo(socketPath());
    ASSERT_TRUE(sendBytes(stalled, requestBytes(99)));

    const auto started = Clock::now();
    EXPECT_EQ(send(1), success("small"));
    EXPECT_LT(Clock::now() - started, promptly);

    ASSERT_TRUE(hungUpWithin(stalled, eventually)) << "the server never hung up on the stalled client";
    EXPECT_LT(drainUntilClosed(stalled, eventually), static_cast<long long>(huge.size()));
}

// ---- Servers that misbehave ----

using PosixMessagePortMisbehavingServers = PosixMessagePortsTest;

TEST_F(PosixMessagePortMisbehavingServers, BrokenReplyGivesItsResultCode) {
    const auto readRequest = [](int fd) {
        std::array<char, 4> request{};
        return ::recv(fd, request.data(), request.size(), MSG_WAITALL) == 4;
    };
    const auto replyWith = [readRequest](std::string bytes) {
        return [readRequest, bytes](int fd) {
            if (readRequest(fd)) ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        };
    };
    const std::tuple<std::string, std::function<void(int)>, MessagePortReply> cases[] = {
        {"hangs up without a reply", [readRequest](int fd) { readRequest(fd); }, success(std::nullopt)},
        {"drops the request unread",
         [](int fd) { readable(fd, 5000ms); },  // the request has arrived; closing now discards it
         failure(kCFMessagePortBecameInvalidError)},
        {"announces an oversized reply", replyWith("\x01\xFF\xFF\xFF\xFF"),
         failure(kCFMessagePortTransportError)},
        {"cuts its reply short",
         replyWith(std::string("\x01\x00\x00\x00\x0A"
                               "abc",
                               8)),
         failure(kCFMessagePortTransportError)},
        {"starts with an unknown marker", replyWith("\x02"), failure(kCFMessagePortTransportError)},
    };
    for (const auto& [what, respond, expected] : cases) {
        FakeServer server(socketPath(), respond);
        EXPECT_EQ(send(1), expected) << "a server that " << what;
        ::unlink(socketPath().c_str());
    }
}

TEST_F(PosixMessagePortMisbehavingServers, FullListenQueueGivesSendTimeout) {
    const auto busy = listeningAt(socketPath(), 0);
    std::vector<FileDescriptor> queue;
    for (int index = 0; index < 64; ++index) {
        auto waiting = unixSocket(SOCK_NONBLOCK);
        if (!connectTo(waiting, socketPath())) break;
        queue.push_back(std::move(waiting));
    }
    auto remote = ports.createRemote(portName);
    ASSERT_NE(remote, nullptr) << "a server with a full queue is alive";

    EXPECT_EQ(remote->sendRequest(1, 0.2, receiveTimeout), failure(kCFMessagePortSendTimeout));
}

// ---- The callout ----

TEST_F(PosixMessagePortsTest, CalloutRunsOnTheLoopThreadAndMayInvalidateItsOwnPort) {
    std::atomic<bool> onLoopThread = false;
    LocalMessagePort* port = nullptr;
    port = serve(portName, [&](std::int32_t) {
        onLoopThread = loopThread.loop().isMainThread();
        port->invalidate();
        return "too late";
    });

    EXPECT_EQ(send(1), success(std::nullopt));
    EXPECT_TRUE(onLoopThread);
    EXPECT_FALSE(exists(socketPath()));
    EXPECT_EQ(ports.createRemote(portName), nullptr);
}

}  // namespace
}  // namespace tessaly
