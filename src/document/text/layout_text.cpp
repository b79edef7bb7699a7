#include <string>

#include "document/text/text_helpers.h"
#include "document/text/utf8_text.h"
#include "platform/text_encoding.h"

namespace quorvanti::document {

namespace {

// Plain letters for Latin Extended-A (U+0100 to U+017F), in code point order; "*" marks the two
// ligatures of two letters each (Ĳ ĳ and Œ œ), handled apart.
constexpr std::u32string_view kLatinExtendedA =
    U"AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi**JjKkkLlLlLlLlLlNnNnNnnNnOoOoOo**RrRrRrSsSsSsSsTtTtTtUuUuUu"
    U"UuUuUuWwYyYZzZzZzs";

bool isBlankLike(char32_t c) {
    return c <= 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The plain Latin text that stands for `c` where the layout cannot carry it; "" when there is none.
std::u32string_view latinEquivalent(char32_t c) {
    if (c >= 0x100 && c <= 0x17F) {
        switch (c) {
            case 0x132: return U"IJ";
            case 0x133: return U"ij";
            case 0x152: return U"OE";
            case 0x153: return U"oe";
            default: return kLatinExtendedA.substr(c - 0x100, 1);
        }
    }
    switch (c) {
        case 0x192: return U"f";
        case 0x2C6: return U"^";
        case 0x2DC: return U"~";
        case 0x2010: case 0x2011: case 0x2012: case 0x2013: case 0x2014: case 0x2015: case 0x2212: case 0x2022:
            return U"-";
        case 0x2018: case 0x2019: case 0x201A: case 0x2032: return U"'";
        case 0x201C: case 0x201D: case 0x201E: case 0x2033: return U"\"";
        case 0x2020: case 0x2021: return U"+";
        case 0x2026: return U"...";
        case 0x2030: return U"%";
        case 0x2039: return U"<";
        case 0x203A: return U">";
        case 0x20AC: return U"EUR";
        case 0x2122: return U"TM";
        default: break;
    }
    // Full-width forms of the ASCII characters.
    static constexpr char32_t kFullWidth[] = U"!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`"
                                            U"abcdefghijklmnopqrstuvwxyz{|}~";
    if (c >= 0xFF01 && c <= 0xFF5E) return std::u32string_view(kFullWidth + (c - 0xFF01), 1);
    return {};
}

// A byte that was not UTF-8 comes from the point-of-sale program's code page.
char32_t fromCodePage(char32_t c) {
    if (c < 0xDC80 || c > 0xDCFF) return c;
    const std::u32string decoded =
        decodeUtf8(platform::windows1252ToUtf8(std::string(1, static_cast<char>(c - 0xDC00))));
    return decoded.empty() ? U'?' : decoded.front();
}

}  // namespace

std::string fitToLayout(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    bool pendingBlank = false;
    const auto append = [&](std::u32string_view characters) {
        if (characters.empty()) return;
        if (pendingBlank && !out.empty()) out.push_back(U' ');
        pendingBlank = false;
        out.append(characters);
    };
    for (char32_t c : decodeUtf8(text)) {
        c = fromCodePage(c);
        if (isBlankLike(c)) {
            pendingBlank = true;
        } else if (c <= 0xFF) {
            // The soft hyphen is invisible: the text reads the same without it.
            if (c != 0xAD) append(std::u32string_view(&c, 1));
        } else {
            append(latinEquivalent(c));
        }
    }
    return encodeUtf8(out);
}

}  // namespace quorvanti::document
