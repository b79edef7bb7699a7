// The INI reader and writer over any file content and any names and value: reads never fail, a write
// that succeeds reads back as the value (as the Windows read gives it: trimmed, one pair of quotes
// dropped, what Windows-1252 lacks as "?"), a write changes no other key, a refused write leaves the
// file as it was, and the settings reader answers at most 199 characters of the same value.
//
// Input: section %% key %% value %% file content (parts separated by lines "%%").
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "platform/ini_file.h"
#include "platform/text_encoding.h"

namespace {

using namespace quorvanti;
using fuzz::shown;

std::string_view trimmedBlanks(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// What a successful write of `value` reads back as.
std::string expectedReading(const std::string& value) {
    const std::string bytes = platform::utf8ToWindows1252(std::string_view(value).substr(0, value.find('\0')));
    std::string_view v = trimmedBlanks(bytes);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
    return platform::windows1252ToUtf8(v);
}

std::size_t characters(std::string_view utf8) {
    std::size_t count = 0;
    for (const char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

// Section and key names of the file, roughly as a person reads it: enough to ask for the other keys.
std::vector<std::pair<std::string, std::string>> namesIn(std::string_view content) {
    std::vector<std::pair<std::string, std::string>> names;
    std::string section;
    while (!content.empty() && names.size() < 24) {
        const auto end = content.find('\n');
        std::string_view line = trimmedBlanks(content.substr(0, end == std::string_view::npos ? content.size() : end));
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line = trimmedBlanks(line.substr(0, line.size() - 1));
        if (line.empty()) continue;
        if (line.front() == '[') {
            const auto close = line.rfind(']');
            if (close != std::string_view::npos) section = platform::windows1252ToUtf8(trimmedBlanks(line.substr(1, close - 1)));
            continue;
        }
        const std::string key = platform::windows1252ToUtf8(trimmedBlanks(line.substr(0, line.find('='))));
        if (!key.empty()) names.emplace_back(section, key);
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = fuzz::parts(fuzz::asText(data, size), 4);
    const std::string& section = input[0];
    const std::string& key = input[1];
    const std::string& value = input[2];
    const std::string& content = input[3];
    const std::string path = fuzz::scratchFolder() + "/ConfigINI.ini";
    if (!fuzz::writeFile(path, content)) return 0;

    const std::string before = platform::iniRead(path, section, key);
    FUZZ_CHECK(fuzz::validUtf8(before), shown(before));
    const std::string setting = platform::readSetting(section, key, path);
    FUZZ_CHECK(characters(setting) <= 199 && before.compare(0, setting.size(), setting) == 0,
               "iniRead '" + shown(before) + "' readSetting '" + shown(setting) + "'");

    const auto others = namesIn(content);
    std::vector<std::string> otherValues;
    for (const auto& [s, k] : others) otherValues.push_back(platform::iniRead(path, s, k));

    const bool written = platform::iniWrite(path, section, key, value);
    const std::string after = fuzz::readFile(path);
    if (!written) {
        FUZZ_CHECK(after == content, "a refused write changed the file:\n" + shown(after));
        return 0;
    }
    const std::string reading = platform::iniRead(path, section, key);
    FUZZ_CHECK(reading == expectedReading(value), "wrote '" + shown(value) + "', read '" + shown(reading) +
                                                      "', expected '" + shown(expectedReading(value)) + "'\nfile:\n" +
                                                      shown(after));
    // A key whose value changed must be the written key under another spelling of its names.
    for (std::size_t i = 0; i < others.size(); ++i) {
        const std::string now = platform::iniRead(path, others[i].first, others[i].second);
        FUZZ_CHECK(now == otherValues[i] || now == reading,
                   "[" + shown(others[i].first) + "] " + shown(others[i].second) + " was '" + shown(otherValues[i]) +
                       "', is '" + shown(now) + "'\nfile:\n" + shown(after));
    }
    // Writing the same value again changes nothing.
    FUZZ_CHECK(platform::iniWrite(path, section, key, value) && fuzz::readFile(path) == after,
               "a second write of the same value changed the file");
    return 0;
}
