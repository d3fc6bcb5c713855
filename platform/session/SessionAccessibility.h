#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "ports/Accessibility.h"
#include "ports/RunLoop.h"
#include "session/SessionConnection.h"

namespace tessaly {

/// Accessibility answered by a running simulated session: trust, elements (the session's
/// identities), attributes, actions and observers, each call one request with the session's own
/// status. Notifications reach observer callbacks on `mainRunLoop`, only while the observer is
/// attached to it; a client asking only about trust gives no run loop and gets no notifications. When the
/// session goes, trust reads false and element calls answer kAXErrorCannotComplete, as for an application
/// that no longer answers.
class SessionAccessibility : public Accessibility {
public:
    SessionAccessibility(std::shared_ptr<SessionConnection> connection, RunLoop* mainRunLoop);
    ~SessionAccessibility() override;

    bool isProcessTrusted() const override;
    bool isProcessTrustedWithOptions(bool prompt) override;
    AXUIElement createApplication(ProcessID pid) override;
    AXError copyAttributeValue(const AXUIElement& element, const std::string& attribute,
                               std::optional<CFValue>& value) override;
    AXError setAttributeValue(const AXUIElement& element, const std::string& attribute,
                              const CFValue& value) override;
    AXError isAttributeSettable(const AXUIElement& element, const std::string& attribute,
                                bool& settable) override;
    AXError performAction(const AXUIElement& element, const std::string& action) override;
    AXError getPid(const AXUIElement& element, ProcessID& pid) override;
    AXError setMessagingTimeout(const AXUIElement& element, float seconds) override;
    AXError observerCreate(ProcessID pid, AXObserverCallback callback, AXObserverRef& observer) override;
    AXError observerAddNotification(const AXObserverRef& observer, const AXUIElement& element,
                                    const std::string& notification, void* refcon) override;
    AXError observerRemoveNotification(const AXObserverRef& observer, const AXUIElement& element,
                                       const std::string& notification) override;
    void observerAddToMainRunLoop(const AXObserverRef& observer) override;
    void observerRemoveFromMainRunLoop(const AXObserverRef& observer) override;

private:
    class Observer;
    // Shared with the connection's reader thread, which finds the observer a notification is for.
    struct Observers {
        std::mutex mutex;
        std::map<std::uint64_t, std::weak_ptr<Observer>> live;
    };

    std::shared_ptr<Observer> sessionObserver(const AXObserverRef& observer) const;
    std::optional<std::string> call(SessionProtocol::Operation operation,
                                    const SessionFrame::Writer& arguments) const;
    // The status that leads a reply, or kAXErrorCannotComplete without one.
    static AXError statusOf(const std::optional<std::string>& reply);

    std::shared_ptr<SessionConnection> connection_;
    std::shared_ptr<Observers> observers_;
};

}  // namespace tessaly
