#include "platform/ini_file.h"

#include "platform/folders.h"
#include "platform/text_encoding.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorvanti::platform {
namespace {

constexpr std::size_t kSettingLimit = 199;  // a 200-character buffer less its terminating NUL
constexpr std::string_view kNewLine = "\r\n";

std::string_view trimBlanks(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

// Case folding over Windows-1252, so that "CONEXÃO" and "Conexão" name the same section, as the
// Windows calls compare names without regard to case in the whole code page.
unsigned char foldCase(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
    switch (c) {
        case 0x8A: return 0x9A;  // Š
        case 0x8C: return 0x9C;  // Œ
        case 0x8E: return 0x9E;  // Ž
        case 0x9F: return 0xFF;  // Ÿ
        default: return c;
    }
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldCase(static_cast<unsigned char>(a[i])) != foldCase(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// One physical line of the file; every view points into the file's content.
struct Line {
    enum Kind { Other, Section, Key };
    std::string_view whole;  // with its line end, if it has one
    Kind kind = Other;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key value, trimmed
};

Line classify(std::string_view whole) {
    Line line;
    line.whole = whole;
    std::string_view text = whole;
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    text = trimBlanks(text);
    if (text.empty() || text.front() == ';' || text.front() == '#') return line;
    if (text.front() == '[') {
        const auto close = text.rfind(']');
        if (close == std::string_view::npos) return line;
        line.kind = Line::Section;
        line.name = trimBlanks(text.substr(1, close - 1));
        return line;
    }
    // A line without "=" is a key with an empty value, as the Windows calls read it.
    const auto equals = text.find('=');
    line.name = trimBlanks(text.substr(0, equals));
    if (equals != std::string_view::npos) line.value = trimBlanks(text.substr(equals + 1));
    if (!line.name.empty()) line.kind = Line::Key;
    return line;
}

std::vector<Line> parseLines(std::string_view content) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        const auto end = content.find('\n', start);
        const auto length = end == std::string_view::npos ? content.size() - start : end - start + 1;
        lines.push_back(classify(content.substr(start, length)));
        start += length;
    }
    return lines;
}

struct Location {
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    std::size_t section = npos;  // the first header of the section
    std::size_t key = npos;      // the first line of the key inside that section
    std::size_t lastKey = npos;  // the section's last key line
};

// The first section of that name wins, and the first key inside it, for reads and writes alike.
Location locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location at;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Line::Section && sameName(lines[i].name, section)) {
            at.section = i;
            break;
        }
    }
    if (at.section == Location::npos) return at;
    for (std::size_t i = at.section + 1; i < lines.size() && lines[i].kind != Line::Section; ++i) {
        if (lines[i].kind != Line::Key) continue;
        at.lastKey = i;
        if (at.key == Location::npos && sameName(lines[i].name, key)) at.key = i;
    }
    return at;
}

// The quotes that the Windows read drops from a value written as "text" or 'text'.
std::string_view stripQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

enum class ReadResult { Ok, Missing, Failed };

ReadResult readWholeFile(const std::string& path, std::string& content) {
    content.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    char buffer[16384];
    ReadResult result = ReadResult::Ok;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            result = ReadResult::Failed;
            break;
        }
    }
    ::close(fd);
    return result;
}

// Texts as a C caller of the Windows calls would pass them: cut at the first NUL.
std::string_view cutAtNul(const std::string& text) {
    return std::string_view(text).substr(0, text.find('\0'));
}

// The raw Windows-1252 value, quotes removed; "" for anything missing or unreadable. Names are cut at
// a NUL as the write cuts them, so a name reads what a write under it wrote.
std::string readRawValue(const std::string& path, const std::string& section, const std::string& key) {
    std::string content;
    if (readWholeFile(path, content) != ReadResult::Ok) return {};
    const std::string sectionName(trimBlanks(utf8ToWindows1252(cutAtNul(section))));
    const std::string keyName(trimBlanks(utf8ToWindows1252(cutAtNul(key))));
    const auto lines = parseLines(content);
    const Location at = locate(lines, sectionName, keyName);
    if (at.key == Location::npos) return {};
    return std::string(stripQuotes(lines[at.key].value));
}

bool hasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// Ends the last line of `out` before a line is appended. A last line that ends in a bare CR gets only
// the LF: a CR LF after it would leave the CR in that line's value.
void endLine(std::string& out) {
    if (out.empty() || out.back() == '\n') return;
    if (out.back() == '\r') out += '\n';
    else out.append(kNewLine);
}

// The file's content with the key set; section, key and value are Windows-1252 and already checked.
std::string withKeySet(std::string_view content, std::string_view section, std::string_view key,
                       std::string_view value) {
    const auto lines = parseLines(content);
    const Location at = locate(lines, section, key);
    const auto offsetOf = [&](std::size_t i) {
        return static_cast<std::size_t>(lines[i].whole.data() - content.data());
    };

    std::string out;
    out.reserve(content.size() + section.size() + key.size() + value.size() + 8);
    if (at.section == Location::npos) {
        out.append(content);
        endLine(out);
        out.append("[").append(section).append("]").append(kNewLine);
        out.append(key).append("=").append(value).append(kNewLine);
    } else if (at.key != Location::npos) {
        // The key keeps the spelling it has in the file.
        const std::size_t start = offsetOf(at.key);
        out.append(content.substr(0, start));
        out.append(lines[at.key].name).append("=").append(value).append(kNewLine);
        out.append(content.substr(start + lines[at.key].whole.size()));
    } else {
        // After the last key rather than at the section's end, so that comments and blank lines
        // leading into the next section stay with it.
        const std::size_t after = at.lastKey != Location::npos ? at.lastKey : at.section;
        const std::size_t end = offsetOf(after) + lines[after].whole.size();
        out.append(content.substr(0, end));
        endLine(out);
        out.append(key).append("=").append(value).append(kNewLine);
        out.append(content.substr(end));
    }
    return out;
}

// The process's umask, read without changing it (umask() itself would race with other threads).
mode_t currentUmask() {
    std::string status;
    if (readWholeFile("/proc/self/status", status) == ReadResult::Ok) {
        const auto at = status.find("\nUmask:");
        if (at != std::string::npos) return static_cast<mode_t>(std::strtoul(status.c_str() + at + 7, nullptr, 8));
    }
    return 022;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Writes a temporary file beside `path`, syncs it and renames it over `path`, so a reader sees the
// old file or the new one, never a mixture. `previous` (when the file existed) supplies the
// permission bits and owner to keep.
bool replaceFile(const std::string& path, std::string_view bytes, const struct stat* previous) {
    const std::string folder = folderOf(path);
    const std::string base = path.substr(path.rfind('/') + 1);
    std::string temp = folder + "/." + base + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;

    bool ok = true;
    if (previous != nullptr) {
        // Best effort: only root may give the file back to another owner.
        [[maybe_unused]] const int ignored = ::fchown(fd, previous->st_uid, previous->st_gid);
        // The file holds the CSC and the database password: others never read it.
        ok = ::fchmod(fd, previous->st_mode & 0770) == 0;
    } else {
        ok = ::fchmod(fd, kFileMode & ~currentUmask()) == 0;
    }
    ok = ok && writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable; failing here leaves a correct file, so it is not reported.
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

// An exclusive advisory lock on "<file>.lock", held while the object lives. A lock file beside the
// settings file, rather than the file itself, because the file is replaced on every write.
class WriteLock {
public:
    explicit WriteLock(const std::string& filePath) {
        const std::string lockPath = filePath + ".lock";
        fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
        if (fd_ < 0) fd_ = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return;
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~WriteLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// A settings file reached through a symbolic link is written where the link points, so the link
// survives the replacing rename.
std::string resolveLink(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;
    std::string target(resolved);
    std::free(resolved);
    return target;
}

}  // namespace

std::string iniRead(const std::string& path, const std::string& section, const std::string& key) {
    return windows1252ToUtf8(readRawValue(path, section, key));
}

bool iniWrite(const std::string& path, const std::string& section, const std::string& key,
              const std::string& value) {
    const std::string sectionName(trimBlanks(utf8ToWindows1252(cutAtNul(section))));
    const std::string keyName(trimBlanks(utf8ToWindows1252(cutAtNul(key))));
    const std::string valueBytes = utf8ToWindows1252(cutAtNul(value));
    // What one line cannot hold, or what would read back as another key, a section or a comment.
    if (sectionName.empty() || keyName.empty() || path.empty()) return false;
    if (hasLineBreak(sectionName) || hasLineBreak(keyName) || hasLineBreak(valueBytes)) return false;
    if (keyName.find('=') != std::string::npos || keyName.find_first_of("[;#") == 0) return false;

    const std::string target = resolveLink(path);
    WriteLock lock(target);
    if (!lock.held()) return false;

    std::string content;
    const ReadResult read = readWholeFile(target, content);
    if (read == ReadResult::Failed) return false;  // never overwrite a file we could not read

    struct stat previous {};
    const bool existed = read == ReadResult::Ok && ::stat(target.c_str(), &previous) == 0;
    const std::string updated = withKeySet(content, sectionName, keyName, valueBytes);
    if (existed && updated == content) return true;
    return replaceFile(target, updated, existed ? &previous : nullptr);
}

std::string readSetting(const std::string& section, const std::string& key, const std::string& path) {
    // Windows-1252 is one byte per character, so cutting the bytes cuts the characters.
    std::string raw = readRawValue(path, section, key);
    if (raw.size() > kSettingLimit) raw.resize(kSettingLimit);
    return windows1252ToUtf8(raw);
}

void writeSetting(const std::string& section, const std::string& key, const std::string& value,
                  const std::string& path) {
    iniWrite(path, section, key, value);
}

}  // namespace quorvanti::platform
