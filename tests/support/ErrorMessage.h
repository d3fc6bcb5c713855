#pragma once

#include <exception>
#include <string>

namespace tessaly::testing {

/// The text of the error `action` throws, or "no error".
template <typename Action>
std::string messageOf(Action&& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

}  // namespace tessaly::testing
