#include "printing/devices/code_page.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/text_encoding.h"

namespace quorvanti::printing::devices {
namespace {

using HighHalf = std::array<char16_t, 128>;  // the characters of the bytes 0x80-0xFF

constexpr HighHalf kCp850 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // B0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // C8
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // D0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,  // D8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // E0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,  // E8
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // F0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,  // F8
};

constexpr HighHalf kCp860 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E3, 0x00E0, 0x00C1, 0x00E7,  // 80
    0x00EA, 0x00CA, 0x00E8, 0x00CD, 0x00D4, 0x00EC, 0x00C3, 0x00C2,  // 88
    0x00C9, 0x00C0, 0x00C8, 0x00F4, 0x00F5, 0x00F2, 0x00DA, 0x00F9,  // 90
    0x00CC, 0x00D5, 0x00DC, 0x00A2, 0x00A3, 0x00D9, 0x20A7, 0x00D3,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x00D2, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // E0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // E8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // F8
};

// Windows-1252 as the platform's conversion reads it (its five unassigned bytes as the C1 controls of
// the same number).
const HighHalf kWindows1252 = [] {
    HighHalf page{};
    for (int i = 0; i < 128; ++i) page[i] = static_cast<char16_t>(platform::windows1252CodePoint(static_cast<unsigned char>(0x80 + i)));
    return page;
}();

const HighHalf& tableOf(CodePage page) {
    switch (page) {
        case CodePage::Cp860: return kCp860;
        case CodePage::Windows1252: return kWindows1252;
        case CodePage::Cp850: break;
    }
    return kCp850;
}

// The plain letter of U+00C0-U+017F ("?" where there is none), so a page lacking "ã" still prints "a".
constexpr std::string_view kPlainLetters =
    "AAAAAA?CEEEEIIII?NOOOOO??UUUUY??aaaaaa?ceeeeiiii?nooooo??uuuuy?yAaAaAaCcCcCcCcDd??EeEeEeEeEeGgGgGgGgHh"
    "??IiIiIiIiI???JjKk?LlLlLl????NnNnNn???OoOoOo??RrRrRrSsSsSsSsTtTt??UuUuUuUuUuUuWwYyYZzZzZz?";

// What a character the page lacks prints as.
std::string_view substituteFor(char32_t cp) {
    if (cp >= 0xC0 && cp <= 0x17F) {
        const std::string_view letter = kPlainLetters.substr(cp - 0xC0, 1);
        if (letter != "?") return letter;
    }
    switch (cp) {
        case 0x00A0: return " ";
        case 0x2018: case 0x2019: case 0x201A: case 0x00B4: return "'";
        case 0x201C: case 0x201D: case 0x201E: case 0x00AB: case 0x00BB: return "\"";
        case 0x2010: case 0x2011: case 0x2012: case 0x2013: case 0x2014: case 0x2212: return "-";
        case 0x2026: return "...";
        case 0x20AC: return "EUR";
        case 0x00AA: return "a";
        case 0x00BA: case 0x00B0: return "o";
        default: return "?";
    }
}

}  // namespace

std::optional<CodePage> codePageNamed(std::string_view name) {
    std::string upper;
    for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "CP850") return CodePage::Cp850;
    if (upper == "CP860") return CodePage::Cp860;
    if (upper == "WINDOWS-1252" || upper == "CP1252") return CodePage::Windows1252;
    return std::nullopt;
}

std::string selectCodePage(CodePage page) {
    // The ESC/POS numbers of the pages: PC850 Multilingual 2, PC860 Portuguese 3, WPC1252 16.
    char number = 2;
    switch (page) {
        case CodePage::Cp850: number = 2; break;
        case CodePage::Cp860: number = 3; break;
        case CodePage::Windows1252: number = 16; break;
    }
    return std::string{'\x1B', 't', number};
}

std::string encodeText(std::string_view utf8, CodePage page) {
    const HighHalf& table = tableOf(page);
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[at]);
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++at;
            continue;
        }
        char32_t cp = 0;
        const std::size_t length = platform::utf8SequenceAt(utf8, at, cp);
        if (length == 0) {
            out += '?';
            ++at;
            continue;
        }
        at += length;
        const auto found = cp <= 0xFFFF ? std::find(table.begin(), table.end(), static_cast<char16_t>(cp))
                                        : table.end();
        // The C1 controls that stand for unassigned bytes are not characters anyone prints.
        if (found != table.end() && !(cp >= 0x80 && cp <= 0x9F)) {
            out += static_cast<char>(0x80 + (found - table.begin()));
        } else {
            out += substituteFor(cp);
        }
    }
    return out;
}

std::string decodeText(std::string_view bytes, CodePage page) {
    const HighHalf& table = tableOf(page);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        platform::appendUtf8(out, byte < 0x80 ? byte : table[byte - 0x80]);
    }
    return out;
}

}  // namespace quorvanti::printing::devices
