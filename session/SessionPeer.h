#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "SessionWorld.h"
#include "session/SessionFrame.h"
#include "session/SessionProtocol.h"

namespace tessaly {

/// The session's side of one client: it answers the client's port calls from the world, sends the
/// callbacks of the client's listeners and observers, and keeps what the client made. Taps and
/// aggregate devices it made vanish when it goes, as a process's do on macOS; its listeners and
/// observers go with it.
class SessionPeer : public std::enable_shared_from_this<SessionPeer> {
public:
    /// Sends one message to the client.
    using Sender = std::function<void(std::string message)>;
    /// Runs the user's command line: words in; status and output go to the continuation, maybe later.
    using CommandRunner = std::function<void(const std::vector<std::string>& words,
                                             std::function<void(int, std::string)> done)>;

    /// Ends the connection to a client that broke the protocol; the reason is for the session's log.
    using Dropper = std::function<void(const std::string& reason)>;

    SessionPeer(SessionWorld& world, RunLoop& runLoop, Sender sender, Dropper drop, CommandRunner commands);
    ~SessionPeer();
    SessionPeer(const SessionPeer&) = delete;
    SessionPeer& operator=(const SessionPeer&) = delete;

    /// Handles one message from the client; the reply is sent once the call's latency has passed.
    /// Throws DecodingError for a message whose header is not well formed; a call whose arguments
    /// are not is dropped through the Dropper.
    void receive(std::string_view message);
    /// Releases everything the client made or registered; called when it goes.
    void release();

    /// The client's name and process, as it introduced itself.
    const std::string& name() const { return name_; }

private:
    struct Registration;
    struct Observer {
        AXObserverRef observer;
        std::vector<std::unique_ptr<Registration>> registrations;
    };
    struct Listener {
        AudioObjectID object;
        AudioObjectPropertyAddress address;
        AudioObjectPropertyListenerBlock block;
    };
    using Reply = std::function<void(const SessionFrame::Writer&)>;

    static void deliverNotification(const AXObserverRef& observer, const AXUIElement& element,
                                    const std::string& notification, void* refcon);
    // When a call of this kind may run, given the world's latency; slow Finder answers late.
    double delayFor(SessionProtocol::Operation operation, SessionFrame::Reader arguments);
    void perform(SessionProtocol::Operation operation, SessionFrame::Reader& arguments, const Reply& reply);
    void performAudio(SessionProtocol::Operation operation, SessionFrame::Reader& arguments,
                      const Reply& reply);
    void performAccessibility(SessionProtocol::Operation operation, SessionFrame::Reader& arguments,
                              const Reply& reply);
    void performWorkspace(SessionProtocol::Operation operation, SessionFrame::Reader& arguments,
                          const Reply& reply);
    AXObserverRef observer(std::uint64_t id) const;

    SessionWorld& world_;
    RunLoop& runLoop_;
    Sender sender_;
    Dropper drop_;
    CommandRunner commands_;
    std::string name_ = "a client";
    std::set<AudioObjectID> taps_;
    std::set<AudioObjectID> aggregates_;
    std::map<std::uint32_t, Listener> listeners_;
    std::map<std::uint64_t, Observer> observers_;
    std::uint64_t nextObserver_ = 1;
    bool released_ = false;
};

}  // namespace tessaly
