#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ports/Commands.h"

namespace tessaly {

/// A scripted program runner, standing in for launchctl: each argument vector answers the exit
/// code and output a test gave it, and may change the simulated world as it runs (a bootout that
/// stops the helper). Every call is logged. Argument vectors nobody scripted exit 0 silently
/// unless the test sets another answer for them.
class SimulatedCommands : public Commands {
public:
    /// One call, as it was made.
    struct Invocation {
        std::string path;
        std::vector<std::string> arguments;
        friend bool operator==(const Invocation&, const Invocation&) = default;
    };

    /// Logs the call; throws while launching fails; otherwise runs the scripted effect and
    /// answers the scripted result.
    CommandResult run(const std::string& path, const std::vector<std::string>& arguments) override;

    /// From now on `arguments` answer `result`, after `effect` (if any) has run.
    void respond(const std::vector<std::string>& arguments, CommandResult result,
                 std::function<void()> effect = {});
    /// The answer for argument vectors without a script of their own.
    void respondToOthers(CommandResult result) { others_ = std::move(result); }
    /// Every later launch fails with this errno, as for a missing program (0: launch again).
    void failLaunching(int errorNumber) { launchError_ = errorNumber; }

    /// Every call so far, failed launches included.
    const std::vector<Invocation>& invocations() const { return invocations_; }
    /// The argument vectors of every call so far.
    std::vector<std::vector<std::string>> argumentsRun() const;

private:
    struct Script {
        CommandResult result;
        std::function<void()> effect;
    };

    std::map<std::vector<std::string>, Script> scripts_;
    CommandResult others_;
    int launchError_ = 0;
    std::vector<Invocation> invocations_;
};

}  // namespace tessaly
