#pragma once

#include <stdexcept>

namespace tessaly::testing {

/// The error of type ErrorType that `action` throws. When it throws nothing the test fails with
/// a logic_error; an error of another type passes through and fails the test as well.
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
