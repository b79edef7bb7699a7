// The error every database operation raises: the server's or the library's message, never the
// connection's password.
#pragma once

#include <stdexcept>

namespace quorvanti::database {

class DbError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quorvanti::database
