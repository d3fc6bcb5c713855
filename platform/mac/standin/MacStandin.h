#pragma once
// The Linux stand-in of the macOS frameworks the Mac adapters call: which simulation each framework
// routes into, and the count of every Core Foundation reference made, taken and given back.

#include <cstddef>
#include <string>

namespace tessaly {
class Accessibility;
class CoreAudio;
class Log;
class MessagePorts;
class RunLoop;
class ServiceManagement;
class Workspace;
struct MainBundle;
}  // namespace tessaly

namespace tessaly::MacStandin {

/// Core Foundation references since the last reset. An object is made with one reference; CFRetain
/// adds one and CFRelease takes one away.
struct ReferenceCounts {
    std::size_t made = 0;
    std::size_t retained = 0;
    std::size_t released = 0;
    /// CFRelease calls on an object that had no reference left (a double release).
    std::size_t overReleased = 0;
    /// Objects made since the reset that still have a reference (leaked, once their users ended).
    long live = 0;
    /// Objective-C objects of the stand-in (toll-free bridged, such as tap descriptions) still alive.
    long objectiveCLive = 0;

    bool balanced() const {
        return made + retained == released && overReleased == 0 && live == 0 && objectiveCLive == 0;
    }
};

/// The counts so far.
ReferenceCounts referenceCounts();
/// Starts counting afresh and frees the memory of objects whose references all went (kept until
/// now so that a double release is counted instead of touching freed memory).
void resetReferenceCounts();

/// The Core Audio hardware calls answer from `audio` (null: they answer "!obj" / "stop").
void routeCoreAudio(CoreAudio* audio);
/// Calls, once, every listener procedure removed since the last call with the client data it was
/// removed with, as a call already running on Core Audio's thread when the removal returned would.
/// Returns how many it called.
std::size_t callRemovedListenersLate();
/// The Accessibility calls answer from `accessibility`.
void routeAccessibility(Accessibility* accessibility);
/// The main queue and main run loop are `runLoop`.
void routeMainQueue(RunLoop* runLoop);
/// Unified logging writes to `log` (only the subsystem "com.orvanne.tessaly").
void routeLog(Log* log);
/// Message ports are made by `ports` (one name space).
void routeMessagePorts(MessagePorts* ports);
/// The login-item agent services answer from `serviceManagement`.
void routeServiceManagement(ServiceManagement* serviceManagement);
/// The workspace (running applications, opening, revealing, the Trash) answers from `workspace`.
void routeWorkspace(Workspace* workspace);
/// The next -[NSFileManager trashItemAtURL:resultingItemURL:error:] fails without asking the
/// workspace, with a Cocoa error (NSCocoaErrorDomain, `code`) described by `description`.
void failNextTrashing(long code, const std::string& description);
/// The shared NSApplication as the stand-in sees it: its activation policy (that of an unbundled
/// process, NSApplicationActivationPolicyProhibited, until one is set), whether it has a delegate, and
/// how often it was terminated.
struct ApplicationState {
    long activationPolicy;
    bool hasDelegate;
    int terminations;
};
ApplicationState applicationState();
/// The main bundle is `bundle` (null: there is none). The stand-in makes it into Core Foundation
/// objects that it keeps until the next route, as a Mac keeps its main bundle.
void routeMainBundle(const MainBundle* bundle);

}  // namespace tessaly::MacStandin
