#pragma once

namespace tessaly {

/// SIGTERM, SIGHUP and SIGINT no longer end the process while this object lives: each one writes a
/// byte to a pipe, which is all a signal handler may safely do, and whoever waits reads it there.
/// One instance at a time; the default handling comes back when it is destroyed.
class TerminationSignalPipe {
public:
    /// Installs the handlers; throws std::runtime_error when the pipe cannot be made.
    TerminationSignalPipe();
    ~TerminationSignalPipe();
    TerminationSignalPipe(const TerminationSignalPipe&) = delete;
    TerminationSignalPipe& operator=(const TerminationSignalPipe&) = delete;

    /// The pipe's read end, readable once a signal has arrived; non-blocking.
    int readEnd() const { return ends_[0]; }
    /// Empties the pipe; whether a signal had arrived.
    bool drain();
    /// Waits up to `seconds` for a signal; whether one arrived, now or before (the pipe is emptied).
    bool waitFor(double seconds);

private:
    int ends_[2] = {-1, -1};
};

}  // namespace tessaly
