// The encoding helpers over any bytes: Windows-1252 bytes survive the trip through UTF-8 unchanged; valid
// UTF-8 goes to one byte per character, each its own character again or "?"; the program's UTF-8
// decoder gives back any bytes unchanged and agrees with the platform's sequence reader; case mapping
// is idempotent and reversible for the letters it maps.
//
// Input: any bytes.
#include <cstdint>
#include <string>

#include "document/text/text_helpers.h"
#include "document/text/utf8_text.h"
#include "fuzz_support.h"
#include "platform/text_encoding.h"

namespace {

using namespace quorvanti;
using fuzz::shown;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz::asText(data, size);

    // Windows-1252 -> UTF-8 -> Windows-1252.
    const std::string utf8 = platform::windows1252ToUtf8(bytes);
    FUZZ_CHECK(fuzz::validUtf8(utf8), shown(utf8));
    FUZZ_CHECK(document::characterCount(utf8) == bytes.size(), shown(utf8));
    FUZZ_CHECK(platform::utf8ToWindows1252(utf8) == bytes, shown(platform::utf8ToWindows1252(utf8)));

    // UTF-8 -> Windows-1252: one byte per character of valid text, the same character back or "?".
    const std::string code = platform::utf8ToWindows1252(bytes);
    const std::u32string decoded = document::decodeUtf8(bytes);
    if (fuzz::validUtf8(bytes)) {
        FUZZ_CHECK(code.size() == decoded.size(), shown(bytes) + " -> " + shown(code));
        const std::u32string back = document::decodeUtf8(platform::windows1252ToUtf8(code));
        FUZZ_CHECK(back.size() == decoded.size(), shown(bytes));
        for (std::size_t i = 0; i < back.size(); ++i)
            FUZZ_CHECK(back[i] == decoded[i] || code[i] == '?', shown(bytes) + " at character " + std::to_string(i));
    } else {
        FUZZ_CHECK(code.size() <= bytes.size(), shown(bytes));
    }

    // The program's decoder: a lossless round trip, in step with the platform's sequence reader.
    FUZZ_CHECK(document::encodeUtf8(decoded) == bytes, shown(document::encodeUtf8(decoded)));
    std::size_t index = 0;
    for (std::size_t at = 0; at < bytes.size(); ++index) {
        char32_t codePoint = 0;
        const std::size_t length = platform::utf8SequenceAt(bytes, at, codePoint);
        FUZZ_CHECK(index < decoded.size(), shown(bytes));
        if (length == 0) {
            FUZZ_CHECK(decoded[index] == 0xDC00 + static_cast<unsigned char>(bytes[at]), shown(bytes));
            ++at;
        } else {
            FUZZ_CHECK(decoded[index] == codePoint, shown(bytes) + " at byte " + std::to_string(at));
            at += length;
        }
    }
    FUZZ_CHECK(index == decoded.size(), shown(bytes));

    // Case: idempotent, reversible where it maps, and the text keeps its characters and its bytes' validity.
    for (const char32_t c : decoded) {
        const char32_t upper = document::upperCharacter(c), lower = document::lowerCharacter(c);
        FUZZ_CHECK(document::upperCharacter(upper) == upper && document::lowerCharacter(lower) == lower,
                   "U+" + std::to_string(static_cast<std::uint32_t>(c)));
        FUZZ_CHECK(upper == c || document::lowerCharacter(upper) == c, "U+" + std::to_string(static_cast<std::uint32_t>(c)));
        FUZZ_CHECK(lower == c || document::upperCharacter(lower) == c, "U+" + std::to_string(static_cast<std::uint32_t>(c)));
    }
    const std::string upperText = document::toUpperText(bytes), lowerText = document::toLowerText(bytes);
    FUZZ_CHECK(document::characterCount(upperText) == decoded.size() && document::characterCount(lowerText) == decoded.size(),
               shown(bytes));
    if (fuzz::validUtf8(bytes)) FUZZ_CHECK(fuzz::validUtf8(upperText) && fuzz::validUtf8(lowerText), shown(bytes));
    return 0;
}
