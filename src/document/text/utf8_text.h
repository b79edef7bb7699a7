// Decoding and encoding of the UTF-8 text the program carries, so that the text procedures can count and
// compare characters (code points) instead of bytes. Bytes that are not valid UTF-8 survive a round trip
// unchanged: each one decodes to a private stand-in (U+DC00 + byte, so U+DC80-U+DCFF) that encodes back to
// the same byte.
#pragma once

#include <string>
#include <string_view>

namespace quorvanti::document {

// The characters of `text`; an invalid byte becomes one stand-in character.
std::u32string decodeUtf8(std::string_view text);
// The UTF-8 bytes of `characters`; stand-ins become their original bytes again.
std::string encodeUtf8(std::u32string_view characters);
// Appends the UTF-8 bytes of one character to `out`.
void appendUtf8(std::string& out, char32_t character);

// Upper and lower case of one character: ASCII and the letters of Windows-1252 (Latin-1 plus Š Œ Ž Ÿ),
// the code page the point-of-sale data comes from; every other character is returned unchanged.
char32_t upperCharacter(char32_t character);
char32_t lowerCharacter(char32_t character);

}  // namespace quorvanti::document
