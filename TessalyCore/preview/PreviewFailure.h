#pragma once

#include <exception>

#include "foundation/PreviewAccessibilityError.h"
#include "ports/Accessibility.h"

namespace tessaly {

/// Whether an error is the system failing for a moment rather than a player that does not look as
/// expected: an element that vanished under the call (a window closing mid-pass), a call that did
/// not complete in time (a busy Finder) or a system error in the call (kAXErrorFailure, such as
/// an object that could not be allocated). The next pass may well succeed.
inline bool isMomentaryFailure(const std::exception& error) {
    const auto* failed = dynamic_cast<const PreviewAccessibilityError*>(&error);
    return failed && (failed->code() == kAXErrorInvalidUIElement ||
                      failed->code() == kAXErrorCannotComplete || failed->code() == kAXErrorFailure);
}

/// Whether an error means that the element it was raised for no longer exists.
inline bool isVanishedElement(const std::exception& error) {
    const auto* failed = dynamic_cast<const PreviewAccessibilityError*>(&error);
    return failed && failed->code() == kAXErrorInvalidUIElement;
}

}  // namespace tessaly
