// The error every database operation raises: the server's or the library's message, never the
// connection's password.
#pragma once

#include <stdexcept>
#include <string>

namespace quorvanti::database {

class DbError : public std::runtime_error {
public:
    explicit DbError(const std::string& message, bool passing = false)
        : std::runtime_error(message), passing_(passing) {}
    // A fault of the moment rather than of the statement or the data: the server went away or the
    // connection was lost, or a lock held by another program ran out of time. The same work may succeed
    // on a new connection later.
    bool passing() const { return passing_; }

private:
    bool passing_;
};

}  // namespace quorvanti::database
