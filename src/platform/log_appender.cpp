#include "platform/log_appender.h"

#include "platform/durable_file.h"
#include "platform/folders.h"
#include "platform/text_encoding.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace quorvanti::platform {
namespace {

[[noreturn]] void fail(const char* what, const std::string& logPath, int error) {
    throw LogWriteError(std::string(what) + " log file " + logPath + ": " +
                        std::system_category().message(error));
}

}  // namespace

void appendLogLine(const std::string& logPath, const std::string& line) {
    std::string bytes = utf8ToWindows1252(line);
    bytes += "\r\n";

    if (const int injected = test_seam::injectedWriteFailure(logPath)) fail("cannot write to", logPath, injected);
    const int fd = ::open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kFileMode);
    if (fd < 0) fail("cannot open", logPath, errno);

    // One write call for the whole line, so that lines of concurrent writers do not interleave.
    std::string_view rest(bytes);
    while (!rest.empty()) {
        const ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            fail("cannot write to", logPath, error);
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    if (::close(fd) != 0 && errno != EINTR) fail("cannot write to", logPath, errno);
}

}  // namespace quorvanti::platform
