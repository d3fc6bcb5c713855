#pragma once

#include <asio/local/stream_protocol.hpp>
#include <asio/steady_timer.hpp>

#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "foundation/FileDescriptor.h"
#include "ports/Log.h"
#include "ports/MessagePorts.h"
#include "posix/MessagePortFrame.h"

namespace tessaly {

class AsioRunLoop;

/// The serving end of a message port on Linux: a Unix-domain socket served entirely on the loop's
/// thread with non-blocking IO. It answers only peers with its own user id and calls the callback for
/// one request at a time. A silent or stalled client can neither hold the main thread nor keep other
/// clients waiting: the server accepts every connection as soon as it arrives, closes any connection
/// that has not delivered its whole request, or taken its whole reply, within connectionDeadline,
/// and once it holds maxConnections it makes room for each newcomer by closing its oldest connection.
/// A client sends its request as it connects, so it is answered long before it becomes the oldest;
/// only connections that say nothing are pushed out. The server closes each connection after its
/// reply; a client that closes without a request (a probe for a live server) gets nothing.
///
/// A request that has arrived by the time its connection is accepted is answered at once, and a
/// reply that fits the socket's buffer is written at once, without waiting on the loop: only a
/// connection that is still to deliver its request, or to take its reply, is held and watched.
class MessagePortServer : public std::enable_shared_from_this<MessagePortServer> {
public:
    /// The time a connection gets to deliver its request, and again to take the reply.
    static constexpr std::chrono::seconds connectionDeadline{1};
    /// Connections held at once; a newer one takes the place of the oldest.
    static constexpr std::size_t maxConnections = 64;

    /// A server for the socket at `socketPath`, holding `lock` (the file at `lockPath`) that makes it
    /// the one server of its name. Serves nothing until it listens and has a source.
    MessagePortServer(AsioRunLoop& loop, Log& log, MessagePorts::Callback callback, std::string socketPath,
                      std::string lockPath, FileSystem::FileDescriptor lock);

    AsioRunLoop& loop() { return loop_; }
    bool isValid() const { return valid_; }

    /// Takes the socket's place in the folder (replacing a socket left by a server that died) and
    /// listens there. Throws when it cannot.
    void listen();
    /// Requests are answered while at least one run-loop source exists.
    void addSource();
    void removeSource();
    /// Stops serving: removes the socket and the lock file, then closes every connection.
    void invalidate();

private:
    using Protocol = asio::local::stream_protocol;
    using Clock = std::chrono::steady_clock;
    // What has passed on a connection so far; the reply frame is there once the callout answered.
    struct Exchange {
        std::array<unsigned char, MessagePortFrame::requestSize> request{};
        std::size_t requestReceived = 0;
        bool answered = false;
        std::string reply;
        std::size_t replySent = 0;
    };
    enum class Progress { finished, waitingToRead, waitingToWrite };
    struct Connection {
        Connection(Protocol::socket connected, Exchange sofar)
            : socket(std::move(connected)), exchange(std::move(sofar)) {}
        Protocol::socket socket;
        Exchange exchange;
        Clock::time_point deadline;
    };
    using ConnectionPointer = std::shared_ptr<Connection>;

    void acceptNext();
    void acceptOne();
    void retryAcceptLater();
    void admit(FileSystem::FileDescriptor socket);
    Progress advance(int fd, Exchange& exchange);
    void hold(FileSystem::FileDescriptor socket, Exchange exchange, Progress progress);
    void waitFor(const ConnectionPointer& connection, Progress progress);
    void watchDeadlines();
    bool isOpen(const ConnectionPointer& connection) const;
    void close(ConnectionPointer connection);

    AsioRunLoop& loop_;
    Log& log_;
    MessagePorts::Callback callback_;
    std::string socketPath_;
    std::string lockPath_;
    FileSystem::FileDescriptor lock_;
    const uid_t ownUser_;
    Protocol::acceptor acceptor_;
    asio::steady_timer retryTimer_;
    // One timer for every held connection's deadline, set for the earliest.
    asio::steady_timer deadlineTimer_;
    bool watchingDeadlines_ = false;
    // Oldest first.
    std::list<ConnectionPointer> connections_;
    int sources_ = 0;
    bool bound_ = false;
    bool accepting_ = false;
    bool valid_ = true;
};

}  // namespace tessaly
