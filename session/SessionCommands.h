#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "SessionWorld.h"

namespace tessaly {

/// The user's command line inside the session: each command acts on the world as the user would
/// and answers an exit status and the text to print. Commands that wait (for a level to be heard)
/// answer when it is reached or their time is up.
class SessionCommands {
public:
    using Done = std::function<void(int status, std::string output)>;

    /// `stop` ends the session (the `quit` command).
    SessionCommands(SessionWorld& world, RunLoop& runLoop, std::function<void()> stop);

    void run(const std::vector<std::string>& words, Done done);

    /// The words and what they do, as `help` prints them.
    static const char* usage();

private:
    /// `open FILE ...` and `arrow N FILE ...`: a new preview, reported at its first sound.
    void open(const std::vector<std::string>& words, const Done& done);
    /// Answers once the new `preview` has made its first sound (or at once when it is paused),
    /// then waits for `expected` if given.
    void reportOpening(int preview, std::string opening, bool playing, std::optional<double> expected,
                       double within, const Done& done);
    /// Answers once `preview` is heard at `level` and shows it, counting the time and the
    /// Accessibility calls since `since` and `callsBefore`.
    void waitHeard(int preview, double level, double within, double since, std::uint64_t callsBefore,
                   std::string opening, const Done& done);

    SessionWorld& world_;
    RunLoop& runLoop_;
    std::function<void()> stop_;
};

}  // namespace tessaly
