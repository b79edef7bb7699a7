// The message of the exception an action raises, for assertions on fault messages.
#pragma once

#include <exception>
#include <string>

namespace quorvanti::testing {

// What the `Error` raised by `action` says; "" when it raised nothing (other exceptions pass through).
template <class Error = std::exception, class Action>
std::string errorText(Action&& action) {
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "";
}

}  // namespace quorvanti::testing
