#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tessaly {

/// The setup application's commands, one per accepted argument vector.
enum class AppCommand { openSetup, enable, disable, restart, uninstall, setupStatusJson, version, help };

/// Compares the whole argument vector (executable path removed) with each accepted vector in
/// order, word for word and case-sensitively; anything else is nothing.
std::optional<AppCommand> parseAppCommand(const std::vector<std::string>& arguments);

}  // namespace tessaly
