#include "simulated/SimulatedCommands.h"

#include <utility>

#include "foundation/FileError.h"

namespace tessaly {

CommandResult SimulatedCommands::run(const std::string& path, const std::vector<std::string>& arguments) {
    invocations_.push_back({path, arguments});
    if (launchError_ != 0) throw FileError("Launching", path, launchError_);
    const auto script = scripts_.find(arguments);
    if (script == scripts_.end()) return others_;
    // Copied first: the effect may script this very argument vector anew.
    const Script answer = script->second;
    if (answer.effect) answer.effect();
    return answer.result;
}

void SimulatedCommands::respond(const std::vector<std::string>& arguments, CommandResult result,
                                std::function<void()> effect) {
    scripts_[arguments] = Script{std::move(result), std::move(effect)};
}

std::vector<std::vector<std::string>> SimulatedCommands::argumentsRun() const {
    std::vector<std::vector<std::string>> result;
    for (const auto& invocation : invocations_) result.push_back(invocation.arguments);
    return result;
}

}  // namespace tessaly
