#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tessaly {

/// The helper's commands, one per accepted argument vector.
enum class HelperCommand { authorize, run, status, statusJson, stop, version, help };

/// Compares the whole argument vector (program name removed) with each accepted vector in
/// order; anything else, including abbreviations and extra words, is nothing.
std::optional<HelperCommand> parseHelperCommand(const std::vector<std::string>& arguments);

}  // namespace tessaly
