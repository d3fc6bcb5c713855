#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace tessaly::testing {

/// The text of the error `action` throws, or "no error". Use it whenever the text is what counts.
template <typename Action>
std::string messageOf(Action&& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

/// The error of type ErrorType that `action` throws, for checks on its type and fields (status,
/// operation); its text alone is messageOf's. When it throws nothing the test fails with a
/// logic_error; an error of another type passes through and fails the test as well.
template <typename ErrorType, typename Action>
ErrorType thrown(Action action) {
    try {
        action();
    } catch (const ErrorType& error) {
        return error;
    }
    throw std::logic_error("the expected error was not thrown");
}

}  // namespace tessaly::testing
