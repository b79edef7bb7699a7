#include "platform/ini_file.h"

#include "platform/durable_file.h"
#include "platform/folders.h"
#include "platform/text_encoding.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string_view>
#include <sys/file.h>
#include <unordered_map>
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

// Reads what `fd` holds from its current position to its end; 0 or the errno of the failure.
int readRest(int fd, std::string& content) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) content.reserve(content.size() + static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return 0;
        } else if (errno != EINTR) {
            return errno;
        }
    }
}

// `error`, when given, receives the errno of a failure.
ReadResult readWholeFile(const std::string& path, std::string& content, int* error = nullptr) {
    content.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error != nullptr) *error = errno;
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    }
    const int failure = readRest(fd, content);
    ::close(fd);
    if (error != nullptr) *error = failure;
    return failure == 0 ? ReadResult::Ok : ReadResult::Failed;
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

// An exclusive advisory lock on "<file>.lock", held while the object lives. A lock file beside the
// settings file, rather than the file itself, because the file is replaced on every whole-file write.
class WriteLock {
public:
    explicit WriteLock(const std::string& filePath) {
        const std::string lockPath = filePath + ".lock";
        fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
        if (fd_ < 0) {
            // A lock file that exists but cannot be written still locks; when there is none, the reason
            // is why it could not be made.
            error_ = errno;
            fd_ = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd_ < 0) return;
            error_ = 0;
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errno;
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
    int error() const { return error_; }  // why it is not held

private:
    int fd_ = -1;
    int error_ = 0;
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

// A write's section, key and value in Windows-1252, checked.
struct Entry {
    std::string section, key, value;
};

// 0, or EINVAL for what one line cannot hold or what would read back as another key, a section or a
// comment.
int prepareEntry(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value, Entry& entry) {
    entry.section = std::string(trimBlanks(utf8ToWindows1252(cutAtNul(section))));
    entry.key = std::string(trimBlanks(utf8ToWindows1252(cutAtNul(key))));
    entry.value = utf8ToWindows1252(cutAtNul(value));
    if (entry.section.empty() || entry.key.empty() || path.empty()) return EINVAL;
    if (hasLineBreak(entry.section) || hasLineBreak(entry.key) || hasLineBreak(entry.value)) return EINVAL;
    if (entry.key.find('=') != std::string::npos || entry.key.find_first_of("[;#") == 0) return EINVAL;
    return 0;
}

// The whole-file write, under the lock: the file is read and replaced by a durable rename. 0 or the
// errno of the failure.
int replaceWithKeySet(const std::string& target, const Entry& entry) {
    std::string content;
    int error = 0;
    const ReadResult read = readWholeFile(target, content, &error);
    if (read == ReadResult::Failed) return error != 0 ? error : EIO;  // never overwrite a file we could not read
    const std::string updated = withKeySet(content, entry.section, entry.key, entry.value);
    if (read == ReadResult::Ok && updated == content) return 0;
    return tryWriteFileDurably(target, updated);
}

// Writes all of `bytes` at `offset`; 0 or the errno of the failure.
int writeAt(int fd, std::string_view bytes, off_t offset) {
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        bytes.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
    }
    return 0;
}

// Where the section headers of a file are, and how it ends.
struct Headers {
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    std::size_t first = npos;  // offset of the first header of the section
    std::size_t last = npos;   // offset of the file's last header
    std::size_t size = 0;      // the file's length
    char lastByte = '\n';      // its last byte ('\n' for an empty file)
};

// A section name as the comparison of names sees it.
std::string foldedName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) c = static_cast<char>(foldCase(static_cast<unsigned char>(c)));
    return folded;
}

// Every header of a file, as a scan found them, and the file it was taken from. The appending writer
// keeps one per file, so that a file that only it has written since is not read again: its cost per
// write does not grow with the file. Any other change (size, time, a new file) makes a scan.
struct HeaderIndex {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    std::unordered_map<std::string, std::size_t> firstOf;  // folded name -> offset of its first header
    std::size_t last = Headers::npos;
    char lastByte = '\n';

    bool describes(const struct stat& st) const {
        return st.st_dev == device && st.st_ino == inode && st.st_size == size &&
               st.st_mtim.tv_sec == modified.tv_sec && st.st_mtim.tv_nsec == modified.tv_nsec;
    }
    void take(const struct stat& st) {
        device = st.st_dev;
        inode = st.st_ino;
        size = st.st_size;
        modified = st.st_mtim;
    }
    Headers of(std::string_view section) const {
        Headers found;
        const auto at = firstOf.find(foldedName(section));
        if (at != firstOf.end()) found.first = at->second;
        found.last = last;
        found.size = static_cast<std::size_t>(size);
        found.lastByte = lastByte;
        return found;
    }
};

std::mutex indexMutex;
std::unordered_map<std::string, HeaderIndex> headerIndexes;

// The headers in `block`, which starts at a line start at `offset` of the file. Only a "[" that is the
// first non-blank byte of its line starts a line that is classified.
void findHeadersIn(std::string_view block, std::size_t offset, HeaderIndex& found) {
    const char* const begin = block.data();
    const char* const end = begin + block.size();
    for (const char* at = begin; at < end;) {
        const char* const bracket = static_cast<const char*>(std::memchr(at, '[', static_cast<std::size_t>(end - at)));
        if (bracket == nullptr) return;
        const char* lineStart = bracket;
        while (lineStart > begin && (lineStart[-1] == ' ' || lineStart[-1] == '\t')) --lineStart;
        if (lineStart != begin && lineStart[-1] != '\n') {
            at = bracket + 1;
            continue;
        }
        const char* const newline = static_cast<const char*>(std::memchr(bracket, '\n', static_cast<std::size_t>(end - bracket)));
        const char* const next = newline != nullptr ? newline + 1 : end;
        const Line line = classify(std::string_view(lineStart, static_cast<std::size_t>(next - lineStart)));
        if (line.kind == Line::Section) {
            const std::size_t where = offset + static_cast<std::size_t>(lineStart - begin);
            found.last = where;
            found.firstOf.emplace(foldedName(line.name), where);  // the first of a name stays
        }
        at = next;
    }
}

// One pass over the file in blocks of whole lines, without holding it in memory. 0 or the errno.
int scanHeaders(int fd, HeaderIndex& found) {
    std::string buffer(std::size_t{1} << 18, '\0');
    std::size_t kept = 0;    // the start of an unfinished line, at the buffer's start
    std::size_t offset = 0;  // the file offset of the buffer's start
    for (;;) {
        if (kept == buffer.size()) buffer.resize(buffer.size() * 2);  // a line longer than the buffer
        const ssize_t n = ::pread(fd, buffer.data() + kept, buffer.size() - kept, static_cast<off_t>(offset + kept));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        const std::size_t filled = kept + static_cast<std::size_t>(n);
        const std::string_view data(buffer.data(), filled);
        if (n == 0) {
            findHeadersIn(data, offset, found);
            return 0;
        }
        found.lastByte = data.back();
        const auto lastNewline = data.rfind('\n');
        const std::size_t complete = lastNewline == std::string_view::npos ? 0 : lastNewline + 1;
        findHeadersIn(data.substr(0, complete), offset, found);
        std::memmove(buffer.data(), buffer.data() + complete, filled - complete);
        kept = filled - complete;
        offset += complete;
    }
}

// Reads `length` bytes at `offset`; 0 or the errno (EIO for a file that became shorter).
int readAt(int fd, std::size_t offset, std::size_t length, std::string& out) {
    out.resize(length);
    for (std::size_t done = 0; done < length;) {
        const ssize_t n = ::pread(fd, out.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// The appending write, under the lock (see iniWriteAppending). 0 or the errno of the failure.
int appendWithKeySet(const std::string& target, const Entry& entry) {
    const int fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        // A new file is made whole by the durable write, never left empty by a failure; a file that may
        // not be written in place is replaced as iniWrite replaces it, when its folder allows.
        if (errno == ENOENT || errno == EACCES || errno == EPERM) return replaceWithKeySet(target, entry);
        return errno;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    // The index of this file, taken again unless the file is as the last write here left it.
    std::lock_guard<std::mutex> guard(indexMutex);
    HeaderIndex& index = headerIndexes[target];
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    if (!index.describes(st)) {
        index = HeaderIndex{};
        if (const int error = scanHeaders(fd, index)) {
            index = HeaderIndex{};
            return error;
        }
        index.take(st);
    }
    Headers headers = index.of(entry.section);

    // The section is the first of its name but not the file's last: the whole-file write.
    if (headers.first != Headers::npos && headers.first != headers.last) {
        index = HeaderIndex{};
        return replaceWithKeySet(target, entry);
    }

    // What goes at `from` (the old bytes from there on are `before`), leaving the file `newSize` long.
    std::size_t from = headers.size;
    std::string after, tail;
    std::string_view before;
    if (headers.first == Headers::npos) {
        // A new section at the end, after the line end that the last line may lack (as withKeySet).
        if (headers.lastByte != '\n') after = headers.lastByte == '\r' ? "\n" : std::string(kNewLine);
        after.append("[").append(entry.section).append("]").append(kNewLine);
        after.append(entry.key).append("=").append(entry.value).append(kNewLine);
    } else {
        // The file's last section, written again from its first changed byte on.
        if (const int error = readAt(fd, headers.first, headers.size - headers.first, tail)) return error;
        const std::string updated = withKeySet(tail, entry.section, entry.key, entry.value);
        if (updated == tail) return 0;
        std::size_t same = 0;
        while (same < tail.size() && same < updated.size() && tail[same] == updated[same]) ++same;
        from = headers.first + same;
        after = updated.substr(same);
        before = std::string_view(tail).substr(same);
    }
    const std::size_t newSize = from + after.size();

    int error = writeAt(fd, after, static_cast<off_t>(from));
    if (error == 0 && newSize < headers.size && ::ftruncate(fd, static_cast<off_t>(newSize)) != 0) error = errno;
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (error != 0) {
        // Best effort: the file as it was, not a section cut by a full disk.
        [[maybe_unused]] const int restored = writeAt(fd, before, static_cast<off_t>(from));
        [[maybe_unused]] const int truncated = ::ftruncate(fd, static_cast<off_t>(headers.size));
        [[maybe_unused]] const int synced = ::fsync(fd);
        index = HeaderIndex{};
        return error;
    }
    // The index follows the write: a new section is the file's last; the file's new size and time.
    if (headers.first == Headers::npos) {
        const std::size_t header = from + after.find('[');
        index.firstOf.emplace(foldedName(entry.section), header);
        index.last = header;
    }
    index.lastByte = '\n';
    if (::fstat(fd, &st) == 0) index.take(st);
    else index = HeaderIndex{};
    return 0;
}

}  // namespace

std::string iniRead(const std::string& path, const std::string& section, const std::string& key) {
    return windows1252ToUtf8(readRawValue(path, section, key));
}

bool iniWrite(const std::string& path, const std::string& section, const std::string& key, const std::string& value,
              int& error) {
    Entry entry;
    error = prepareEntry(path, section, key, value, entry);
    if (error != 0) return false;
    const std::string target = resolveLink(path);
    error = test_seam::injectedWriteFailure(target);
    if (error != 0) return false;
    WriteLock lock(target);
    if (!lock.held()) {
        error = lock.error();
        return false;
    }
    error = replaceWithKeySet(target, entry);
    return error == 0;
}

bool iniWrite(const std::string& path, const std::string& section, const std::string& key,
              const std::string& value) {
    int ignored = 0;
    return iniWrite(path, section, key, value, ignored);
}

void iniWriteAppending(const std::string& path, const std::string& section, const std::string& key,
                       const std::string& value) {
    Entry entry;
    int error = prepareEntry(path, section, key, value, entry);
    if (error != 0) throw FileWriteError(path, error);
    const std::string target = resolveLink(path);
    error = test_seam::injectedWriteFailure(target);
    if (error != 0) throw FileWriteError(path, error);
    WriteLock lock(target);
    if (!lock.held()) throw FileWriteError(path, lock.error());
    error = appendWithKeySet(target, entry);
    if (error != 0) throw FileWriteError(path, error);
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

void writeSettingChecked(const std::string& section, const std::string& key, const std::string& value,
                         const std::string& path) {
    int error = 0;
    if (!iniWrite(path, section, key, value, error)) throw FileWriteError(path, error != 0 ? error : EIO);
}

}  // namespace quorvanti::platform
