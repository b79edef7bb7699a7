// Conversion between the UTF-8 text the program works with and the Windows-1252 bytes of the files it
// shares with the point-of-sale program (settings files, registry store, log).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvanti::platform {

// Characters that Windows-1252 cannot hold become "?"; invalid UTF-8 bytes also become "?".
std::string utf8ToWindows1252(std::string_view utf8);
// Every byte maps to a character (the five unassigned bytes of the code page map to the C1 controls).
std::string windows1252ToUtf8(std::string_view bytes);
// The character of one Windows-1252 byte (as windows1252ToUtf8 reads it).
char32_t windows1252CodePoint(unsigned char byte);
// Appends the UTF-8 form of a code point of the Basic Multilingual Plane.
void appendUtf8(std::string& out, char32_t codePoint);

// Length (1 to 4) of the valid UTF-8 sequence starting at `at`, its code point in `codePoint`; 0 when
// the bytes there are not UTF-8 (overlong forms, surrogates and values above U+10FFFF included).
std::size_t utf8SequenceAt(std::string_view text, std::size_t at, char32_t& codePoint);

}  // namespace quorvanti::platform
