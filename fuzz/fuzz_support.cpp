#include "fuzz_support.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "platform/text_encoding.h"

namespace quorvanti::fuzz {

std::vector<std::string> parts(std::string_view input, std::size_t count) {
    constexpr std::string_view kSeparator = "\n%%\n";
    std::vector<std::string> out;
    while (out.size() + 1 < count) {
        const std::size_t at = input.find(kSeparator);
        if (at == std::string_view::npos) break;
        out.emplace_back(input.substr(0, at));
        input.remove_prefix(at + kSeparator.size());
    }
    out.emplace_back(input);
    out.resize(count);
    return out;
}

bool validUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        char32_t codePoint = 0;
        const std::size_t length = platform::utf8SequenceAt(text, at, codePoint);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

namespace {

struct Scratch {
    Scratch() {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        path = (base / ("quorvanti-fuzz-" + std::to_string(::getpid()))).string();
        std::filesystem::remove_all(path, ec);
        std::filesystem::create_directories(path);
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string path;
};

}  // namespace

const std::string& scratchFolder() {
    static const Scratch scratch;
    return scratch.path;
}

bool writeFile(const std::string& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string shown(std::string_view text) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out += c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

}  // namespace quorvanti::fuzz
