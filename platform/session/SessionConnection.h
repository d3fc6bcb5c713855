#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/FileDescriptor.h"
#include "session/SessionFrame.h"
#include "session/SessionProtocol.h"

namespace tessaly {

class RuntimeDirectory;

/// A client's connection to a running simulated session: port calls go out as requests and wait
/// for their replies; events (listener and notification callbacks) are read by a thread of the
/// connection and handed to the handler registered for them, which must only post work to a run
/// loop. When the session goes, waiting and later calls get no reply and the loss handlers run once.
class SessionConnection {
public:
    /// Called on the connection's reader thread with the event's fields.
    using EventHandler = std::function<void(SessionFrame::Reader& fields)>;

    /// A connection to the session listening at `socketPath`, after the greeting; nothing when no
    /// session answers there (no socket, nobody listening, another protocol version).
    static std::shared_ptr<SessionConnection> connect(const std::string& socketPath,
                                                      const std::string& clientName);
    /// The same for the session of the current user, in its runtime folder.
    static std::shared_ptr<SessionConnection> connectIfRunning(const RuntimeDirectory& runtime,
                                                               const std::string& clientName);

    ~SessionConnection();
    SessionConnection(const SessionConnection&) = delete;
    SessionConnection& operator=(const SessionConnection&) = delete;

    /// Sends a request and waits for the reply's fields (after the sequence number); nothing once
    /// the session is gone. Calls from several threads take turns.
    std::optional<std::string> call(SessionProtocol::Operation operation,
                                    const SessionFrame::Writer& arguments);
    /// Sends a one-way request; the session answers nothing.
    void send(SessionProtocol::Operation operation, const SessionFrame::Writer& arguments);

    /// Sets the handler of one kind of event.
    void onEvent(SessionProtocol::Event event, EventHandler handler);
    /// Adds a handler run once when the session goes, on the thread that noticed; it must only post.
    void onLost(std::function<void()> handler);
    /// Whether the session still answers.
    bool isConnected() const;

private:
    explicit SessionConnection(FileSystem::FileDescriptor socket);
    bool greet(const std::string& clientName);
    bool write(const std::string& frame);
    void readEvents();
    void handle(std::string_view message);
    void lose();

    FileSystem::FileDescriptor socket_;
    std::mutex callMutex_;  // one request awaiting its reply at a time
    std::mutex writeMutex_;
    mutable std::mutex stateMutex_;
    std::condition_variable replied_;
    std::uint32_t nextSequence_ = 1;
    std::uint32_t awaited_ = 0;
    std::optional<std::string> reply_;
    bool lost_ = false;
    std::map<SessionProtocol::Event, EventHandler> handlers_;
    std::vector<std::function<void()>> lossHandlers_;
    std::thread reader_;
};

}  // namespace tessaly
