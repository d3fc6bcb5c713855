#pragma once

#include <functional>
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
    void open(const std::vector<std::string>& words, const Done& done);
    void waitHeard(int preview, double level, double within, double since, std::string opening,
                   const Done& done);

    SessionWorld& world_;
    RunLoop& runLoop_;
    std::function<void()> stop_;
};

}  // namespace tessaly
