#include "platform/credentials.h"

#include <sys/stat.h>

#include <cstdlib>

namespace quorvanti::platform {

std::string credentialPath(std::string_view name) {
    const char* folder = std::getenv(kCredentialsDirectoryVariable);
    // A name with a "/" (or "." and "..") would reach outside the credentials folder.
    if (folder == nullptr || *folder == '\0' || name.empty() || name == "." || name == ".." ||
        name.find('/') != std::string_view::npos || name.find('\0') != std::string_view::npos)
        return "";
    std::string path(folder);
    if (path.back() != '/') path += '/';
    path += name;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "";
    return path;
}

}  // namespace quorvanti::platform
