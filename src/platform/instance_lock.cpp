#include "platform/instance_lock.h"
#include "platform/folders.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace quorvanti::platform {

InstanceLock::InstanceLock(const std::string& lockFilePath) {
    // Close-on-exec, so that a script the program starts does not carry the lock past its end.
    const int fd = ::open(lockFilePath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
    if (fd < 0) {
        error_ = errno;
        return;
    }
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        if (errno != EWOULDBLOCK) error_ = errno;
        ::close(fd);
        return;
    }
    fd_ = fd;
    // The holder's process id, for an operator who wonders which process holds it; not relied upon.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd_, pid.data(), pid.size(), 0);
    }
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace quorvanti::platform
