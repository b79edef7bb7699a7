// The previous-instance test: an advisory lock on a lock file in the program folder, held for the life
// of the process (the kernel drops it when the process ends, however it ends).
#pragma once

#include <string>

namespace quorvanti::platform {

class InstanceLock {
public:
    // Tries to take the lock on `lockFilePath` (created when missing).
    explicit InstanceLock(const std::string& lockFilePath);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process holds the lock, or when the lock file could not be made.
    bool acquired() const { return fd_ >= 0; }
    // Why the lock file could not be opened or locked (an errno), 0 when the lock is simply another
    // process's: a folder that cannot be written is not another instance.
    int error() const { return error_; }

private:
    int fd_ = -1;
    int error_ = 0;
};

}  // namespace quorvanti::platform
