#pragma once

#include <memory>

#include "TerminationSignalPipe.h"

namespace tessaly {

/// Ctrl-C (SIGINT), SIGTERM or SIGHUP while the command line runs a setup operation. The step under
/// way (a launchctl call, a registration) is never cut short; the operation ends at its next wait
/// for the helper, which fails, and what the operation does after a failure there (loading the
/// legacy agent it booted out again, say) is done before the command reports it. So an interrupted
/// command leaves what a failed one leaves, and never half of a step.
class CommandInterruption {
public:
    /// Catches the signals, instead of ending the process, while it lives.
    class Catching {
    public:
        explicit Catching(CommandInterruption& owner);
        ~Catching();
        Catching(const Catching&) = delete;
        Catching& operator=(const Catching&) = delete;

    private:
        CommandInterruption& owner_;
    };

    /// The setup service's sleep: waits `seconds`, and throws "The operation was interrupted." when
    /// a signal was caught before or during the wait (and at every later wait).
    void sleep(double seconds);

private:
    std::unique_ptr<TerminationSignalPipe> signals_;
    bool interrupted_ = false;
};

}  // namespace tessaly
