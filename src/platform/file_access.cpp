#include "platform/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quorvanti::platform {

bool readableFile(const std::string& path, std::string& reason) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        reason = error == ENOENT    ? "arquivo não encontrado"
                 : error == EACCES  ? "sem permissão de leitura"
                                    : std::strerror(error);
        return false;
    }
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!regular) reason = "não é um arquivo";
    return regular;
}

}  // namespace quorvanti::platform
