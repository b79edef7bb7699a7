// How values become element text in an NFC-e: amounts with a decimal point and a fixed number of
// decimals, free texts reduced to what the layout's TString type accepts, XML escaping. Shared by the
// document writer and the QR code rules. Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvanti::fiscal {

// `value` with exactly `decimals` digits after a decimal point, rounded half away from zero on the
// shortest decimal text of the double (so 2.675 gives "2.68", as the operator typed it). Raises
// ComponentError for a value that is not finite.
std::string formatDecimal(double value, int decimals);

// The same rounding as an integer count of the last decimal place (12.345 at 2 decimals gives 1235).
// Raises ComponentError, as formatDecimal does, and for a count beyond 64 bits.
std::int64_t roundToUnits(double value, int decimals);

// Free text as the layout's TString accepts it: control characters count as blanks, runs of blanks
// become one, leading and trailing blanks go. Raises ComponentError naming `what` when the text is not
// UTF-8 or holds a character beyond Latin-1, which the layout does not allow.
std::string layoutText(std::string_view text, std::string_view what);

// Number of characters (code points) of UTF-8 text.
std::size_t characterCount(std::string_view utf8);

// The first `maxCharacters` characters of UTF-8 text.
std::string firstCharacters(std::string_view utf8, std::size_t maxCharacters);

// Element content escaped exactly as canonical XML writes it: &, <, > and the carriage return, nothing
// else, so that a document's text is its own canonical form (what the signer digests unparsed).
std::string xmlEscape(std::string_view text);

// True when `text` is non-empty and holds only the digits 0-9.
bool isDigits(std::string_view text);

// `text` without blanks around it.
std::string trimmed(std::string_view text);

}  // namespace quorvanti::fiscal
