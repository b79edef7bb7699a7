// The log writer: appends one line, Windows-1252, ended by CR LF, to the log file. The caller composes
// the whole line; nothing is added. A file that cannot be opened or written raises LogWriteError, which
// reaches the calling procedure's error handler.
#pragma once

#include <stdexcept>
#include <string>

namespace quorvanti::platform {

class LogWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void appendLogLine(const std::string& logPath, const std::string& line);

}  // namespace quorvanti::platform
