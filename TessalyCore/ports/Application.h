#pragma once
// Port: the process as an application (AppKit's NSApplication) whose event loop runs on the main
// thread until the application is terminated.

namespace tessaly {

/// What the application tells its delegate (the NSApplicationDelegate role).
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    /// applicationDidFinishLaunching: the application's event loop runs.
    virtual void applicationDidFinishLaunching() = 0;
};

class Application {
public:
    virtual ~Application() = default;

    /// Gives the shared application the accessory activation policy (no Dock icon, no menu bar) and
    /// `delegate` as its delegate, then runs its event loop, from which the delegate hears
    /// applicationDidFinishLaunching. Returns once the loop has ended; on a Mac terminating the
    /// application ends the process inside this call.
    virtual void runAsAccessory(ApplicationDelegate& delegate) = 0;
    /// -[NSApplication terminate:].
    virtual void terminate() = 0;
};

}  // namespace tessaly
