// The text procedures of the receipt layouts: centring and right alignment in columns, the "@" masks,
// and the numeric formats of the original ("###0.00", "##,#0.00", "0000000000" ...) written with the
// Brazilian regional conventions (decimal comma, dot for thousands) whatever the process locale.
// Widths count characters, not bytes. No state.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvanti::printing {

// `Centraliza`: pad = (width - length) / 2 rounded half to even; pad blanks, the text, pad blanks,
// the blanks after the text never past `width` (a pad rounded up would make the line one column too
// wide, and the printer would carry that blank onto a line of its own). A text longer than `width`
// comes back unchanged.
std::string Centraliza(std::string_view text, int width = 48);

// `text` with each of its lines (CR LF apart) broken into lines of at most `width` characters, joined
// with CR LF: at the last blank that fits (the blank dropped), or inside a word longer than the line
// (an address). A receipt printer never has to break a line itself, so nothing is split where it
// should not be and the next text starts on its own line.
std::string wrapColumns(std::string_view text, int width = 48);

// `AlinhaDireita`: the text without leading blanks at the right of a run of `fill`, exactly `width`
// characters (a longer text loses its first characters).
std::string AlinhaDireita(std::string_view value, int width, char fill);

// The fill-from-the-right "@" mask of `width` places: blanks before a shorter text; a longer text whole.
std::string rightInColumn(std::string_view text, int width);

// The access key in eleven groups of four ("@@@@ @@@@ ... @@@@").
std::string accessKeyGroups(std::string_view key);

// A text read as a number with the regional settings (CDbl): blanks around it allowed, dots are
// thousands separators wherever they stand, a comma is the decimal separator. "12,50" -> 12.5,
// "1.234,50" -> 1234.5, "12.50" -> 1250. Nothing for a text that is not such a number.
std::optional<double> regionalNumber(std::string_view text);

// A number as text with the regional settings (CStr): up to 15 significant digits, decimal comma,
// no thousands separators. 8 -> "8", 46.25 -> "46,25".
std::string regionalText(double value);

// A number formatted with a numeric pattern of "#", "0", "," and ".": the digits of "0" are always
// written, "," anywhere in the integer part groups thousands, the count of places after "." fixes the
// decimals; rounding is half away from zero on the value's 15 significant digits.
// (1234.5, "##,#0.00") -> "1.234,50"; (0.5, "#######.00") -> ",50"; (55, "0000000000") -> "0000000055".
std::string formatNumber(double value, std::string_view pattern);

// Format of a text with a numeric pattern: a text that reads as a number is formatted, any other
// text comes back unchanged. A text of digits alone is padded as text, so long codes keep every digit.
std::string formatText(std::string_view text, std::string_view pattern);

// An XML decimal ("9.3233333333", point as decimal separator) shortened to at most `width` characters:
// as written when it fits; else without the zeros after its `decimals`th decimal ("20.0000000000" ->
// "20.00"); else rounded to `decimals` places ("9.32"); else to whole units, however long.
std::string fitDecimal(const std::string& value, int width, int decimals);

// An amount in cents as an XML decimal with two places (2010 -> "20.10").
std::string xmlCentsText(long long cents);

// An XML decimal ("12.50", point as decimal separator) as a number; 0 for an empty or unreadable text.
double xmlDecimal(std::string_view text);

}  // namespace quorvanti::printing
