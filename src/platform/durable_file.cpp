#include "platform/durable_file.h"

#include "platform/folders.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quorvanti::platform {

FileWriteError::FileWriteError(const std::string& path, int error)
    : std::runtime_error("Não foi possível gravar o arquivo '" + path + "': " + writeFailureReason(error)),
      path_(path),
      error_(error) {}

std::string writeFailureReason(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT: return "disco cheio";
        case EACCES:
        case EPERM: return "sem permissão de escrita";
        case EROFS: return "sistema de arquivos somente leitura";
        default: return std::system_category().message(error);
    }
}

// ---- test seam ----

namespace test_seam {
namespace {

struct Rules {
    std::atomic<bool> armed{false};
    std::mutex mutex;
    std::vector<std::pair<std::string, int>> folders;  // absolute, normal, without a trailing "/"
};

Rules& rules() {
    static Rules instance;
    return instance;
}

std::string normalPath(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) absolute = path;
    std::string normal = absolute.lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

bool isUnder(const std::string& path, const std::string& folder) {
    if (folder == "/") return true;
    return path.compare(0, folder.size(), folder) == 0 && (path.size() == folder.size() || path[folder.size()] == '/');
}

}  // namespace

void failWritesUnder(std::string folder, int error) {
    Rules& r = rules();
    const std::lock_guard lock(r.mutex);
    r.folders.emplace_back(normalPath(folder), error);
    r.armed = true;
}

void stopFailingWrites() {
    Rules& r = rules();
    const std::lock_guard lock(r.mutex);
    r.folders.clear();
    r.armed = false;
}

int injectedWriteFailure(const std::string& path) {
    Rules& r = rules();
    if (!r.armed.load(std::memory_order_acquire)) return 0;
    const std::string normal = normalPath(path);
    const std::lock_guard lock(r.mutex);
    for (const auto& [folder, error] : r.folders)
        if (isUnder(normal, folder)) return error;
    return 0;
}

}  // namespace test_seam

// ---- the durable write ----

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now, answering the errno of a failed close (0 when it closed).
    int close() {
        const int fd = std::exchange(fd_, -1);
        return fd >= 0 && ::close(fd) != 0 && errno != EINTR ? errno : 0;
    }

private:
    int fd_;
};

int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

// A name for the temporary beside `base` that no other writer of this host picks at the same time.
std::string temporaryName(const std::string& folder, const std::string& base) {
    static std::atomic<unsigned long> counter{0};
    return folder + "/." + base + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

// Syncs the folder, so that the rename into it survives a power cut. A file system that cannot sync a
// folder (EINVAL) has nothing more to do.
int syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    Descriptor dir(fd);
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) return errno;
    return 0;
}

// The durable write of tryWriteFileDurably; a `secret` file is made 0600 whatever an old one was.
int writeDurably(const std::string& path, std::string_view bytes, struct stat* written, bool secret) noexcept {
    try {
        if (const int injected = test_seam::injectedWriteFailure(path)) return injected;
        const auto slash = path.rfind('/');
        const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
        if (base.empty() || base == "." || base == "..") return EISDIR;
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        if (!createFolders(folder)) return errno != 0 ? errno : ENOENT;

        struct stat previous {};
        const bool existed = ::lstat(path.c_str(), &previous) == 0 && S_ISREG(previous.st_mode);

        std::string temporary;
        int fd = -1;
        for (int attempt = 0; fd < 0; ++attempt) {
            temporary = temporaryName(folder, base);
            fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, secret ? 0600 : kFileMode);
            if (fd < 0 && (errno != EEXIST || attempt > 100)) return errno;
        }
        Descriptor file(fd);
        const auto failed = [&](int error) {
            file.close();
            ::unlink(temporary.c_str());
            return error;
        };
        if (secret) {
            if (::fchmod(fd, 0600) != 0) return failed(errno);
        } else if (existed) {
            // Best effort: only root may give the file back to another owner.
            [[maybe_unused]] const int ignored = ::fchown(fd, previous.st_uid, previous.st_gid);
            if (::fchmod(fd, previous.st_mode & 0770) != 0) return failed(errno);
        }
        if (const int error = writeAll(fd, bytes)) return failed(error);
        if (::fsync(fd) != 0) return failed(errno);
        if (written != nullptr && ::fstat(fd, written) != 0) return failed(errno);
        if (const int error = file.close()) return failed(error);
        if (::rename(temporary.c_str(), path.c_str()) != 0) return failed(errno);
        return syncFolder(folder);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (...) {
        return EIO;
    }
}

}  // namespace

int tryWriteFileDurably(const std::string& path, std::string_view bytes, struct stat* written) noexcept {
    return writeDurably(path, bytes, written, false);
}

int tryWriteSecretFileDurably(const std::string& path, std::string_view bytes) noexcept {
    return writeDurably(path, bytes, nullptr, true);
}

void writeFileDurably(const std::string& path, std::string_view bytes, struct stat* written) {
    if (const int error = tryWriteFileDurably(path, bytes, written)) throw FileWriteError(path, error);
}

}  // namespace quorvanti::platform
