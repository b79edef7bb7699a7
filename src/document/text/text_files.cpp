#include <glob.h>
#include <sys/stat.h>

#include <string>

#include "document/text/text_helpers.h"

namespace quorvanti::document {

namespace {

// The original's directory search knows only * and ? in the last component of the path; every other
// character, brackets and backslashes included, is taken literally.
std::string globPattern(const std::string& path) {
    const std::size_t lastSlash = path.find_last_of('/');
    const std::size_t nameStart = lastSlash == std::string::npos ? 0 : lastSlash + 1;
    std::string pattern;
    pattern.reserve(path.size() + 8);
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        const bool wildcard = (c == '*' || c == '?') && i >= nameStart;
        if (!wildcard && (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\')) pattern.push_back('\\');
        pattern.push_back(c);
    }
    return pattern;
}

// The file search lists files, not folders (unless asked to), and a dangling link names no file.
bool isExistingFile(const char* name) {
    struct stat info {};
    return ::stat(name, &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace

bool ArquivoExiste(const std::string& path) {
    // An empty name names no file (the original's search would have listed the current folder).
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    const std::string pattern = globPattern(path);
    glob_t found{};
    // GLOB_PERIOD: wildcards match names starting with a dot too, as the original's search does.
    const int status = ::glob(pattern.c_str(), GLOB_NOSORT | GLOB_PERIOD, nullptr, &found);
    bool any = false;
    if (status == 0) {
        for (std::size_t i = 0; i < found.gl_pathc && !any; ++i) any = isExistingFile(found.gl_pathv[i]);
    }
    ::globfree(&found);
    return any;
}

}  // namespace quorvanti::document
