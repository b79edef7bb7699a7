#include "platform/folders.h"

#include "platform/durable_file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvanti::platform {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The desktop entry of xdg-user-dirs (~/.config/user-dirs.dirs), a line such as
// XDG_DESKTOP_DIR="$HOME/Área de Trabalho"; "" when there is none.
std::string userDirsDesktop(const std::string& home) {
    std::string config = environment("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/') config = home + "/.config";
    std::ifstream in(config + "/user-dirs.dirs");
    const std::string prefix = "XDG_DESKTOP_DIR=\"";
    std::string line;
    while (std::getline(in, line)) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, prefix.size(), prefix) != 0) continue;
        const auto valueStart = start + prefix.size();
        const auto close = line.find('"', valueStart);
        if (close == std::string::npos) return {};
        std::string value = line.substr(valueStart, close - valueStart);
        if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
        return value.empty() || value.front() != '/' ? std::string() : value;
    }
    return {};
}

}  // namespace

std::string executableFolder() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return withoutTrailingSlash(std::filesystem::current_path(error).string());
    return withoutTrailingSlash(exe.parent_path().string());
}

std::string homeFolder() {
    std::string home = environment("HOME");
    if (home.empty()) {
        // A service started without a login environment still has a home in the user database.
        struct passwd entry {};
        struct passwd* found = nullptr;
        char buffer[4096];
        if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
            found->pw_dir != nullptr)
            home = found->pw_dir;
    }
    return home.empty() ? std::string("/") : withoutTrailingSlash(home);
}

std::string desktopFolder(const std::string& override) {
    std::string folder = override;
    if (folder.empty()) folder = environment("XDG_DESKTOP_DIR");
    if (folder.empty()) {
        const std::string home = homeFolder();
        folder = userDirsDesktop(home);
        if (folder.empty()) folder = home + "/Desktop";
    }
    folder = withoutTrailingSlash(folder);
    // A missing desktop shows up as a failure of the first log call, which names the path.
    createFolders(folder);
    return folder;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void restrictCreationModes() {
    const mode_t previous = ::umask(027);
    ::umask(previous | 027);
}

bool createFolders(const std::string& folder) {
    if (folder.empty()) {
        errno = ENOENT;
        return false;
    }
    const std::filesystem::path target = std::filesystem::path(folder).lexically_normal();
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;  // the common case
    std::filesystem::path partial;
    for (const auto& part : target) {
        partial /= part;
        if (part.empty() || part == "/") continue;
        // mkdir's mode is what a umask of 0 would leave; the process umask only removes more.
        if (::mkdir(partial.c_str(), kFolderMode) != 0 && errno != EEXIST) return false;
    }
    if (::stat(target.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

namespace {

// Writes every byte of `bytes` to `fd`, resuming after signals and short writes.
bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

bool writeWholeFile(const std::string& path, std::string_view bytes) {
    if (const int injected = test_seam::injectedWriteFailure(path)) {
        errno = injected;
        return false;
    }
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) createFolders(parent.string());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode);
    if (fd < 0) return false;
    bool ok = true;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && (st.st_mode & 07) != 0) ok = ::fchmod(fd, st.st_mode & 0770) == 0;
    ok = ok && writeAll(fd, bytes);
    return ::close(fd) == 0 && ok;
}

bool writeSecretFile(const std::string& path, std::string_view bytes) {
    if (const int injected = test_seam::injectedWriteFailure(path)) {
        errno = injected;
        return false;
    }
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) {
        if (!createFolders(parent.string()) || ::chmod(parent.c_str(), 0700) != 0) return false;
    }
    // A fresh file renamed over the old one, synced: a power cut leaves the old token or the new, never
    // an empty file (which would make the next start hand out another token).
    if (const int error = tryWriteSecretFileDurably(path, bytes)) {
        errno = error;
        return false;
    }
    return true;
}

std::string withTrailingSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace quorvanti::platform
