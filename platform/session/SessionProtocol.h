#pragma once

#include <cstdint>

namespace tessaly {

/// What a client and a simulated session say to each other, in SessionFrame messages.
///
///   request  kind `request`, a sequence number (u32), the operation (u8), its arguments.
///   reply    kind `reply`, the request's sequence number, the operation's results.
///   event    kind `event`, the event (u8), its fields; sent whenever the session has one.
///
/// A request with sequence number 0 is one-way: the session sends no reply. Each operation's
/// arguments and results are written in one place, the client adapter that makes the call, and read
/// in one place, the session's server; the status code of a port call always comes first in its
/// reply, exactly as the simulation answered it.
namespace SessionProtocol {

/// The socket's name in the user's runtime folder.
inline constexpr char socketName[] = "com.orvanne.tessaly.session";
/// Changes whenever a message changes shape; a client and session of different versions do not talk.
inline constexpr std::uint32_t version = 1;

enum Kind : std::uint8_t { request = 1, reply = 2, event = 3 };

enum Operation : std::uint8_t {
    // Opens the conversation: version, the client's name and process id -> the session's version.
    hello = 1,

    // Core Audio.
    audioGetPropertyDataSize = 10,
    audioGetObject,
    audioGetUInt32,
    audioGetObjectIDs,
    audioCreateProcessTap,
    audioDestroyProcessTap,
    audioCreateAggregateDevice,
    audioDestroyAggregateDevice,
    audioAddListener,
    audioRemoveListener,

    // Accessibility.
    axIsProcessTrusted = 30,
    axIsProcessTrustedWithOptions,
    axCreateApplication,
    axCopyAttributeValue,
    axSetAttributeValue,
    axIsAttributeSettable,
    axPerformAction,
    axGetPid,
    axSetMessagingTimeout,
    axObserverCreate,
    axObserverAddNotification,
    axObserverRemoveNotification,
    axObserverAddToRunLoop,
    axObserverRemoveFromRunLoop,
    axObserverRelease,

    // Workspace.
    workspaceRunningApplications = 60,
    workspaceOpenURL,
    workspaceRevealFolder,

    // The user's command line: words in, exit status and output text back.
    command = 80,
};

enum Event : std::uint8_t {
    // A Core Audio listener fired: the client's listener id, then the changed addresses.
    audioPropertiesChanged = 1,
    // An Accessibility notification: the client's observer id, the element, the notification.
    axNotification = 2,
};

}  // namespace SessionProtocol

}  // namespace tessaly
