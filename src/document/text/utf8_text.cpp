#include "document/text/utf8_text.h"

#include "platform/text_encoding.h"

namespace quorvanti::document {

namespace {

// Lone surrogates never occur in valid UTF-8, so this range is free to carry undecodable bytes.
constexpr char32_t kByteStandIn = 0xDC00;

}  // namespace

std::u32string decodeUtf8(std::string_view text) {
    std::u32string characters;
    characters.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        char32_t decoded = 0;
        const std::size_t length = platform::utf8SequenceAt(text, at, decoded);
        if (length == 0) {
            characters.push_back(kByteStandIn + static_cast<unsigned char>(text[at]));
            ++at;
        } else {
            characters.push_back(decoded);
            at += length;
        }
    }
    return characters;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c >= kByteStandIn + 0x80 && c <= kByteStandIn + 0xFF) {
        out.push_back(static_cast<char>(c - kByteStandIn));
    } else if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c >= 0xD800 && c <= 0xDFFF) {
        appendUtf8(out, U'\uFFFD');  // a lone surrogate has no UTF-8 form
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c <= 0x10FFFF) {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        appendUtf8(out, U'\uFFFD');
    }
}

std::string encodeUtf8(std::u32string_view characters) {
    std::string out;
    out.reserve(characters.size());
    for (char32_t c : characters) appendUtf8(out, c);
    return out;
}

char32_t upperCharacter(char32_t c) {
    if (c >= U'a' && c <= U'z') return c - 0x20;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;  // à..þ except ÷
    switch (c) {
    case 0xFF: return 0x178;   // ÿ -> Ÿ
    case 0x161: return 0x160;  // š -> Š
    case 0x153: return 0x152;  // œ -> Œ
    case 0x17E: return 0x17D;  // ž -> Ž
    default: return c;         // ß and µ have no single upper-case form in the code page
    }
}

char32_t lowerCharacter(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;  // À..Þ except ×
    switch (c) {
    case 0x178: return 0xFF;
    case 0x160: return 0x161;
    case 0x152: return 0x153;
    case 0x17D: return 0x17E;
    default: return c;
    }
}

}  // namespace quorvanti::document
