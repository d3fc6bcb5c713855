#include "AppCommand.h"

#include <utility>

namespace tessaly {

std::optional<AppCommand> parseAppCommand(const std::vector<std::string>& arguments) {
    static const std::pair<std::vector<std::string>, AppCommand> table[] = {
        {{}, AppCommand::openSetup},
        {{"setup"}, AppCommand::openSetup},
        {{"authorize"}, AppCommand::openSetup},
        {{"enable"}, AppCommand::enable},
        {{"disable"}, AppCommand::disable},
        {{"restart"}, AppCommand::restart},
        {{"uninstall"}, AppCommand::uninstall},
        {{"setup-status", "--json"}, AppCommand::setupStatusJson},
        {{"--version"}, AppCommand::version},
        {{"--help"}, AppCommand::help},
    };
    for (const auto& [vector, command] : table) {
        if (vector == arguments) return command;
    }
    return std::nullopt;
}

}  // namespace tessaly
