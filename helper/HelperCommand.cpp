#include "HelperCommand.h"

#include <utility>

namespace tessaly {

std::optional<HelperCommand> parseHelperCommand(const std::vector<std::string>& arguments) {
    static const std::pair<std::vector<std::string>, HelperCommand> table[] = {
        {{}, HelperCommand::authorize},
        {{"authorize"}, HelperCommand::authorize},
        {{"run"}, HelperCommand::run},
        {{"status"}, HelperCommand::status},
        {{"status", "--json"}, HelperCommand::statusJson},
        {{"stop"}, HelperCommand::stop},
        {{"--version"}, HelperCommand::version},
        {{"--help"}, HelperCommand::help},
    };
    for (const auto& [vector, command] : table) {
        if (vector == arguments) return command;
    }
    return std::nullopt;
}

}  // namespace tessaly
