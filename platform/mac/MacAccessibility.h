#pragma once

#include "mac/MacElementTable.h"
#include "ports/Accessibility.h"

namespace tessaly {

/// The Accessibility port over ApplicationServices. Statuses pass through unchanged. An element
/// identity this adapter never handed out (or one the system reported gone) answers
/// kAXErrorInvalidUIElement; a value that cannot be made for a write answers kAXErrorIllegalArgument.
/// A value read that CFValue has no kind for (a URL, a point) reads as an empty dictionary, which the
/// core's typed reads refuse as a value of the wrong type. Observers must end before the adapter.
class MacAccessibility : public Accessibility {
public:
    /// `sweepElementsFrom`: how many elements are made between two sweeps of unused ones.
    explicit MacAccessibility(std::size_t sweepElementsFrom = 4096) : elements_(sweepElementsFrom) {}
    MacAccessibility(const MacAccessibility&) = delete;
    MacAccessibility& operator=(const MacAccessibility&) = delete;

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

    /// How many elements the adapter holds a reference to.
    std::size_t heldElementCount() const { return elements_.size(); }

private:
    class Observer;

    // Calls `body` with the element's object; forgets an element the system reports gone.
    template <typename Body>
    AXError withElement(const AXUIElement& element, Body body);

    MacElementTable elements_;
};

}  // namespace tessaly
