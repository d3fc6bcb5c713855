#pragma once

#include "ports/Commands.h"

namespace tessaly {

/// Runs programs with posix_spawn, the way NSTask runs launchctl: one pipe is both the program's
/// standard output and standard error, read to its end before the program is waited for.
///
/// The program gets the caller's environment and working folder, standard input on /dev/null (a
/// program reading it must not wait on the terminal of a command-line caller), default signal
/// handling and an empty signal mask (the calling thread may block signals for its own reasons),
/// in a process group of its own, out of reach of the terminal's Ctrl-C.
/// A program killed by a signal reports 128 plus the signal's number, as a shell does: a SIGKILL
/// gives 137. A program that cannot be started (on Linux there is no /bin/launchctl) throws
/// FileError("Launching", path, errno): "Launching “/bin/launchctl” failed: No such file or
/// directory."
///
/// The same code runs launchctl on a Mac (compiled there into the Mac adapters' library).
class PosixCommands : public Commands {
public:
    CommandResult run(const std::string& path, const std::vector<std::string>& arguments) override;
};

}  // namespace tessaly
