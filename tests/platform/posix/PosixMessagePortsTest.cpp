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

#include "LoopThread.h"
#include "TemporaryRuntimeDirectory.h"
#include "posix/PosixMessagePorts.h"
#include "support/CapturingLog.h"

namespace tessaly {
namespace {

using namespace std::chrono_literals;
using testing::CapturingLog;
using testing::LoopThread;
using testing::TemporaryFolder;
using testing::TemporaryRuntimeDirectory;
using Clock = std::chrono::steady_clock;

const std::string portName = "com.orvanne.tessaly";
constexpr double sendTimeout = 2.0;
constexpr double receiveTimeout = 2.0;
// Bounds for things that must happen, generous so that a loaded machine does not fail the test.
constexpr auto promptly = 1500ms;
constexpr auto eventually = 5s;

MessagePortReply success(std::optional<std::string> data) {
    return {kCFMessagePortSuccess, std::move(data)};
}
MessagePortReply failure(std::int32_t status) {
    return {status, std::nullopt};
}

// A socket the test drives by hand, to play a misbehaving client or server.
class RawSocket {
public:
    RawSocket() : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    explicit RawSocket(int fd) : fd_(fd) {}
    ~RawSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    RawSocket(RawSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    int fd() const { return fd_; }

    static sockaddr_un address(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        return address;
    }
    static RawSocket connectedTo(const std::string& path) {
        RawSocket socket;
        const auto target = address(path);
        if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0)
            return RawSocket(-1);
        return socket;
    }
    static RawSocket listeningAt(const std::string& path, int backlog = 16) {
        RawSocket socket;
        const auto target = address(path);
        if (::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0 ||
            ::listen(socket.fd(), backlog) != 0) {
            return RawSocket(-1);
        }
        return socket;
    }

    bool write(const std::string& bytes) const {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    bool readable(std::chrono::milliseconds within) const {
        pollfd entry{fd_, POLLIN, 0};
        return ::poll(&entry, 1, static_cast<int>(within.count())) > 0;
    }
    // Whether the peer hangs up in time, whether or not data is still waiting to be read.
    bool hungUpWithin(std::chrono::milliseconds within) const {
        pollfd entry{fd_, POLLRDHUP, 0};
        return ::poll(&entry, 1, static_cast<int>(within.count())) > 0 &&
               (entry.revents & (POLLRDHUP | POLLHUP));
    }
    // Reads until the peer hangs up; the byte count, or -1 when it does not hang up in time.
    long long drainUntilClosed(std::chrono::milliseconds within) const {
        const auto deadline = Clock::now() + within;
        long long total = 0;
        std::array<char, 65536> buffer{};
        while (Clock::now() < deadline) {
            if (!readable(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())))
                break;
            const ssize_t count = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (count == 0 || (count < 0 && errno == ECONNRESET)) return total;
            if (count > 0) total += count;
        }
        return -1;
    }

private:
    int fd_;
};

std::string requestBytes(std::uint32_t messageID) {
    return {static_cast<char>(messageID >> 24), static_cast<char>(messageID >> 16),
            static_cast<char>(messageID >> 8), static_cast<char>(messageID)};
}

// A stand-in server at the port's socket: it hangs up on the first connection (the client's probe
// for a live server) and lets `respond` handle the second, the request.
class FakeServer {
public:
    FakeServer(const std::string& path, std::function<void(int)> respond)
        : listener_(RawSocket::listeningAt(path)), thread_([this, respond] {
              RawSocket probe(::accept(listener_.fd(), nullptr, nullptr));
              RawSocket request(::accept(listener_.fd(), nullptr, nullptr));
              if (request.fd() >= 0) respond(request.fd());
          }) {}
    ~FakeServer() {
        ::shutdown(listener_.fd(), SHUT_RDWR);
        thread_.join();
    }
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

private:
    RawSocket listener_;
    std::thread thread_;
};

void readRequest(int fd) {
    std::array<char, 4> request{};
    ASSERT_EQ(::recv(fd, request.data(), request.size(), MSG_WAITALL), 4);
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

class PosixMessagePortsTest : public ::testing::Test {
protected:
    void TearDown() override {
        loopThread.call([this] {
            source.reset();
            port.reset();
        });
    }

    std::string socketPath() const { return directory.entry(portName); }

    // Serves `portName` with a callout that counts its calls and answers with `reply`.
    void serve(std::function<std::optional<std::string>(std::int32_t)> reply) {
        loopThread.call([&] {
            auto creation = ports.createLocal(portName, [this, reply](std::int32_t messageID) {
                ++calls;
                return reply(messageID);
            });
            ASSERT_NE(creation.port, nullptr);
            port = std::move(creation.port);
            source = port->createRunLoopSource();
        });
    }

    void serveEcho() {
        serve([](std::int32_t messageID) { return "reply to " + std::to_string(messageID); });
    }

    MessagePortReply send(std::int32_t messageID, double waitForReply = receiveTimeout) {
        auto remote = ports.createRemote(portName);
        if (!remote) return {kCFMessagePortIsInvalid, std::string("no remote end")};
        return remote->sendRequest(messageID, sendTimeout, waitForReply);
    }

    MessagePorts::LocalPortCreation createLocal(PosixMessagePorts& other, const std::string& name) {
        return loopThread.call([&] { return other.createLocal(name, [](std::int32_t) { return "x"; }); });
    }

    std::vector<std::string> logged() {
        return loopThread.call([this] { return log.messages("mute"); });
    }

    TemporaryRuntimeDirectory directory;
    CapturingLog log;
    LoopThread loopThread;
    PosixMessagePorts ports{RuntimeDirectory::forCurrentUser(), loopThread.loop(), log};
    std::unique_ptr<LocalMessagePort> port;
    std::unique_ptr<MessagePortRunLoopSource> source;
    std::atomic<int> calls{0};
};

// ---- Files ----

using PosixMessagePortFiles = PosixMessagePortsTest;

TEST_F(PosixMessagePortFiles, PortIsAPrivateSocketNamedAfterItNextToItsLock) {
    serveEcho();

    struct stat info {};
    ASSERT_EQ(::lstat(socketPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(exists(socketPath() + ".lock"));
}

TEST_F(PosixMessagePortFiles, InvalidatingRemovesTheSocketAndTheLock) {
    serveEcho();
    loopThread.call([this] { port->invalidate(); });

    EXPECT_FALSE(exists(socketPath()));
    EXPECT_FALSE(exists(socketPath() + ".lock"));
}

TEST_F(PosixMessagePortFiles, SocketLeftByAServerThatDiedIsReplaced) {
    { RawSocket dead = RawSocket::listeningAt(socketPath()); }  // closed, but its file stays
    ASSERT_TRUE(exists(socketPath()));
    EXPECT_EQ(ports.createRemote(portName), nullptr) << "nobody serves a dead server's socket";

    serveEcho();

    EXPECT_EQ(send(1), success("reply to 1"));
}

TEST_F(PosixMessagePortFiles, LockFileLeftWithoutHolderIsTakenOver) {
    ::close(::open((socketPath() + ".lock").c_str(), O_CREAT | O_WRONLY, 0600));
    serveEcho();
    EXPECT_EQ(send(1), success("reply to 1"));
}

TEST_F(PosixMessagePortFiles, NameLockedByAnotherLiveServerIsRefusedAndItsSocketKept) {
    RawSocket otherServer = RawSocket::listeningAt(socketPath());
    const int otherLock = ::open((socketPath() + ".lock").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_EQ(::flock(otherLock, LOCK_EX), 0);

    auto creation = createLocal(ports, portName);

    EXPECT_EQ(creation.port, nullptr);
    EXPECT_TRUE(creation.shouldFreeInfo);
    EXPECT_GE(RawSocket::connectedTo(socketPath()).fd(), 0) << "the live server's socket was removed";
    ::close(otherLock);
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

TEST_F(PosixMessagePortFiles, ServerCreatesAMissingRuntimeFolder) {
    const std::string nested = directory.entry("nested");
    PosixMessagePorts nestedPorts(RuntimeDirectory(nested), loopThread.loop(), log);

    auto creation = createLocal(nestedPorts, portName);

    ASSERT_NE(creation.port, nullptr);
    struct stat info {};
    ASSERT_EQ(::lstat(nested.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    loopThread.call([&] { creation.port.reset(); });
}

TEST_F(PosixMessagePortFiles, ClientDoesNotCreateAMissingRuntimeFolder) {
    const std::string nested = directory.entry("nested");
    PosixMessagePorts clientPorts{RuntimeDirectory(nested)};

    EXPECT_EQ(clientPorts.createRemote(portName), nullptr);
    EXPECT_FALSE(exists(nested));
}

// ---- Refusals ----

using PosixMessagePortRefusals = PosixMessagePortsTest;

TEST_F(PosixMessagePortRefusals, NameThatIsNotAFileNameIsRefused) {
    for (const std::string name : {"a/b", "", "..", "."}) {
        auto creation = createLocal(ports, name);
        EXPECT_EQ(creation.port, nullptr) << name;
        EXPECT_FALSE(creation.shouldFreeInfo) << name;
        EXPECT_EQ(ports.createRemote(name), nullptr) << name;
    }
    EXPECT_EQ(logged().front(),
              "Cannot create the message port \xE2\x80\x9C"
              "a/b\xE2\x80\x9D. "
              "The name cannot be used as a file name.");
}

TEST_F(PosixMessagePortRefusals, NameTooLongForASocketAddressIsRefused) {
    const std::string name(120, 'n');
    auto creation = createLocal(ports, name);

    EXPECT_EQ(creation.port, nullptr);
    EXPECT_FALSE(creation.shouldFreeInfo);
    EXPECT_EQ(logged(), std::vector<std::string>{"Cannot create the message port \xE2\x80\x9C" + name +
                                                 "\xE2\x80\x9D. Its socket path \xE2\x80\x9C" +
                                                 directory.entry(name) + "\xE2\x80\x9D is too long."});
}

TEST_F(PosixMessagePortRefusals, RefusedRuntimeFolderGivesNoPortAndSaysWhy) {
    const std::string link = directory.entry("link");
    TemporaryFolder target;
    ASSERT_EQ(::symlink(target.path().c_str(), link.c_str()), 0);
    PosixMessagePorts linkedPorts(RuntimeDirectory(link), loopThread.loop(), log);

    auto creation = createLocal(linkedPorts, portName);

    EXPECT_EQ(creation.port, nullptr);
    EXPECT_FALSE(creation.shouldFreeInfo);
    EXPECT_EQ(linkedPorts.createRemote(portName), nullptr);
    EXPECT_EQ(logged(), std::vector<std::string>{"Cannot create the message port \xE2\x80\x9C" + portName +
                                                 "\xE2\x80\x9D. The runtime folder \xE2\x80\x9C" + link +
                                                 "\xE2\x80\x9D is a symbolic link; Tessaly does not follow "
                                                 "links there."});
}

TEST_F(PosixMessagePortRefusals, SomethingOtherThanASocketInTheWayIsLeftAlone) {
    ::close(::open(socketPath().c_str(), O_CREAT | O_WRONLY, 0600));

    auto creation = createLocal(ports, portName);

    EXPECT_EQ(creation.port, nullptr);
    EXPECT_TRUE(exists(socketPath()));
    EXPECT_FALSE(exists(socketPath() + ".lock")) << "a port that failed keeps no lock";
    EXPECT_EQ(logged(), std::vector<std::string>{"Cannot create the message port \xE2\x80\x9C" + portName +
                                                 "\xE2\x80\x9D. Something other than a socket is in the way "
                                                 "at \xE2\x80\x9C" +
                                                 socketPath() + "\xE2\x80\x9D."});
}

TEST_F(PosixMessagePortRefusals, ClientOnlyPortsCannotServe) {
    PosixMessagePorts clientPorts{RuntimeDirectory::forCurrentUser()};
    serveEcho();

    auto creation = clientPorts.createLocal(portName + ".client", [](std::int32_t) { return "x"; });

    EXPECT_EQ(creation.port, nullptr);
    EXPECT_FALSE(creation.shouldFreeInfo);
    auto remote = clientPorts.createRemote(portName);
    ASSERT_NE(remote, nullptr);
    EXPECT_EQ(remote->sendRequest(1, sendTimeout, receiveTimeout), success("reply to 1"));
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
        RawSocket client = RawSocket::connectedTo(socketPath());
        if (client.fd() < 0) ::_exit(11);
        // The server may hang up before the request is even written.
        if (!client.write(requestBytes(1))) ::_exit(errno == EPIPE || errno == ECONNRESET ? 0 : 12);
        char byte = 0;
        const ssize_t count = ::recv(client.fd(), &byte, 1, 0);
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
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(logged(), std::vector<std::string>{"Refused a local connection from another user."});
}

// ---- Clients that misbehave ----

using PosixMessagePortMisbehavingClients = PosixMessagePortsTest;

TEST_F(PosixMessagePortMisbehavingClients, SilentClientDoesNotDelayOthersAndIsHungUpOn) {
    serveEcho();
    RawSocket silent = RawSocket::connectedTo(socketPath());
    ASSERT_GE(silent.fd(), 0);

    const auto started = Clock::now();
    EXPECT_EQ(send(1), success("reply to 1"));
    EXPECT_LT(Clock::now() - started, promptly);

    EXPECT_EQ(silent.drainUntilClosed(eventually), 0);
}

TEST_F(PosixMessagePortMisbehavingClients, PartialRequestIsNeverAnsweredAndIsHungUpOn) {
    serveEcho();
    RawSocket partial = RawSocket::connectedTo(socketPath());
    ASSERT_TRUE(partial.write(requestBytes(1).substr(0, 2)));

    EXPECT_EQ(send(2), success("reply to 2"));
    EXPECT_EQ(partial.drainUntilClosed(eventually), 0);
    EXPECT_EQ(calls, 1);
}

TEST_F(PosixMessagePortMisbehavingClients, ClientThatNeverReadsItsReplyCannotStallTheServer) {
    const std::string huge(PosixMessagePorts::maxReplySize, 'x');
    serve([&huge](std::int32_t messageID) -> std::optional<std::string> {
        if (messageID == 99) return huge;
        return "small";
    });
    RawSocket stalled = RawSocket::connectedTo(socketPath());
    ASSERT_TRUE(stalled.write(requestBytes(99)));

    const auto started = Clock::now();
    EXPECT_EQ(send(1), success("small"));
    EXPECT_LT(Clock::now() - started, promptly);

    ASSERT_TRUE(stalled.hungUpWithin(eventually)) << "the server never hung up on the stalled client";
    EXPECT_LT(stalled.drainUntilClosed(eventually), static_cast<long long>(huge.size()));
}

TEST_F(PosixMessagePortMisbehavingClients, CrowdOfSilentClientsOnlyDelaysOthersUntilTheirDeadline) {
    serveEcho();
    std::vector<RawSocket> crowd;
    for (std::size_t index = 0; index < PosixMessagePorts::maxConnections + 4; ++index) {
        crowd.push_back(RawSocket::connectedTo(socketPath()));
        ASSERT_GE(crowd.back().fd(), 0);
    }

    EXPECT_EQ(send(1, 3.0), success("reply to 1"));
}

// ---- Servers that misbehave ----

using PosixMessagePortMisbehavingServers = PosixMessagePortsTest;

TEST_F(PosixMessagePortMisbehavingServers, SlowServerGivesReceiveTimeout) {
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    serve([gate](std::int32_t) {
        gate.wait();
        return "late";
    });

    EXPECT_EQ(send(1, 0.2), failure(kCFMessagePortReceiveTimeout));

    release.set_value();
    EXPECT_EQ(send(2), success("late")) << "the late reply must not reach the next request";
    EXPECT_EQ(calls, 2);
}

TEST_F(PosixMessagePortMisbehavingServers, ServerThatHangsUpWithoutReplyGivesSuccessWithoutData) {
    FakeServer server(socketPath(), [](int fd) { readRequest(fd); });
    EXPECT_EQ(send(1), success(std::nullopt));
}

TEST_F(PosixMessagePortMisbehavingServers, ServerThatDropsTheRequestUnreadMeansThePortBecameInvalid) {
    FakeServer server(socketPath(), [](int fd) {
        pollfd entry{fd, POLLIN, 0};
        ::poll(&entry, 1, 5000);  // the request has arrived; closing now discards it
    });
    EXPECT_EQ(send(1), failure(kCFMessagePortBecameInvalidError));
}

TEST_F(PosixMessagePortMisbehavingServers, OversizedReplyLengthIsATransportError) {
    FakeServer server(socketPath(), [](int fd) {
        readRequest(fd);
        ::send(fd, "\x01\xFF\xFF\xFF\xFF", 5, MSG_NOSIGNAL);
    });
    EXPECT_EQ(send(1), failure(kCFMessagePortTransportError));
}

TEST_F(PosixMessagePortMisbehavingServers, TruncatedReplyIsATransportError) {
    FakeServer server(socketPath(), [](int fd) {
        readRequest(fd);
        ::send(fd,
               "\x01\x00\x00\x00\x0A"
               "abc",
               8, MSG_NOSIGNAL);
    });
    EXPECT_EQ(send(1), failure(kCFMessagePortTransportError));
}

TEST_F(PosixMessagePortMisbehavingServers, FullListenQueueGivesSendTimeout) {
    RawSocket busy = RawSocket::listeningAt(socketPath(), 0);
    std::vector<RawSocket> queue;
    for (int index = 0; index < 64; ++index) {
        RawSocket waiting(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        const auto target = RawSocket::address(socketPath());
        if (::connect(waiting.fd(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) break;
        queue.push_back(std::move(waiting));
    }
    auto remote = ports.createRemote(portName);
    ASSERT_NE(remote, nullptr) << "a server with a full queue is alive";

    EXPECT_EQ(remote->sendRequest(1, 0.2, receiveTimeout), failure(kCFMessagePortSendTimeout));
}

// ---- The callout ----

using PosixMessagePortCallout = PosixMessagePortsTest;

TEST_F(PosixMessagePortCallout, RunsOnTheLoopThread) {
    std::atomic<bool> onLoopThread = false;
    serve([&](std::int32_t) {
        onLoopThread = loopThread.loop().isMainThread();
        return "x";
    });
    ASSERT_EQ(send(1), success("x"));
    EXPECT_TRUE(onLoopThread);
}

TEST_F(PosixMessagePortCallout, MayInvalidateItsOwnPort) {
    serve([this](std::int32_t) {
        port->invalidate();
        return "too late";
    });

    EXPECT_EQ(send(1), success(std::nullopt));
    EXPECT_FALSE(exists(socketPath()));
    EXPECT_EQ(ports.createRemote(portName), nullptr);
}

}  // namespace
}  // namespace tessaly
