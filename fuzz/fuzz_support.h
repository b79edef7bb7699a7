// What the fuzz targets share: a property check that stops the run with a message (libFuzzer keeps the
// input that made it fail), the parts of an input, UTF-8 tests and a private scratch folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace quorvanti::fuzz {

// A broken property is a finding like a crash: the message, then abort() so libFuzzer saves the input.
[[noreturn]] inline void violated(const char* file, int line, const char* condition, const std::string& detail) {
    std::fprintf(stderr, "\n%s:%d: property violated: %s\n%s\n", file, line, condition, detail.c_str());
    std::abort();
}

#define FUZZ_CHECK(condition, detail)                                                  \
    do {                                                                               \
        if (!(condition)) ::quorvanti::fuzz::violated(__FILE__, __LINE__, #condition, (detail)); \
    } while (0)

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The input cut at the lines "%%" into at most `count` parts (the last takes the rest, separators
// included); missing parts are empty. Keeps the seed files readable text.
std::vector<std::string> parts(std::string_view input, std::size_t count);

// True when `text` is well-formed UTF-8.
bool validUtf8(std::string_view text);

// A folder of this process's own, on tmpfs when the machine has one (the INI writer syncs every write),
// removed when the process ends normally.
const std::string& scratchFolder();

// Writes `content` to `path` whole; false when it could not.
bool writeFile(const std::string& path, std::string_view content);
// The content of `path`, "" when it cannot be read.
std::string readFile(const std::string& path);

// Printable form of a text for a message: control and non-ASCII bytes as \xNN.
std::string shown(std::string_view text);

}  // namespace quorvanti::fuzz
