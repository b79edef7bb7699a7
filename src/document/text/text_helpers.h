// The text, number and mask procedures the whole program shares. They work on UTF-8 text and count
// characters, not bytes: an accented letter is one character. No state.
#pragma once

#include <string>
#include <string_view>

#include "database/db_value.h"

namespace quorvanti::document {

// Cleans a name or address for the NFC-e: lower-cases, drops the characters the XML and the authority
// refuse, folds Portuguese accents, halves runs of blanks once, trims and upper-cases.
// "  Açaí & Cia 50% " gives "ACAI E CIA 50".
std::string LimpaTexto(std::string_view text);

// Text as the NFC-e layout carries it (its text type takes the characters from "!" to "ÿ" with single
// inner blanks). The one rule for every free text entering the document, applied after LimpaTexto:
// - characters the layout carries are kept, accented letters included ("Ñ", "É");
// - control characters, tabs, line breaks and other blank characters (no-break space, thin spaces)
//   count as blanks; runs of blanks become one and the text is trimmed;
// - a character beyond the layout's set becomes its plain Latin equivalent where one exists
//   ("Œ" -> "OE", "Ł" -> "L", "€" -> "EUR", curly quotes and dashes -> straight ones, full-width
//   letters -> plain ones) and is removed otherwise (emoji, zero-width characters, other scripts);
// - a byte that is not UTF-8 is read as Windows-1252, the point-of-sale program's code page.
// The result may be empty; the caller decides what an empty text means.
std::string fitToLayout(std::string_view text);

// mode true: removes every character of `set` from `text`; mode false: removes every occurrence of the
// substring `set`, searching again from the start after each removal.
std::string RetiraCaracteres(std::string_view text, std::string_view set, bool everyCharacter);

// Como false: replaces occurrences of `what` (the first found without regard to case, the following
// with exact case after the inserted text) by `by`. Como true: for each character of `what`, replaces
// it everywhere by the character at the same position of `by` (left alone when `by` is shorter).
std::string SubstituiC(std::string_view target, std::string_view what, std::string_view by, bool characterMode);

// Blank test: empty or blank-only text. For database values also null, a numeric zero and a date not
// later than the lowest date (2/1/100).
bool EstaVazio(std::string_view text);
bool EstaVazio(const database::DbValue& value);

// True when a file-name search for `path` finds at least one name; `path` may hold the wildcards * and ?
// in its last component.
bool ArquivoExiste(const std::string& path);

// `value` with leading blanks removed, preceded by `width` fill characters and cut to its last `width`
// characters: ("123", 6, '0') gives "000123".
std::string CompletaEsquerda(std::string_view value, int width, char32_t fill);

// The receipt's money form: the amount text read with the Brazilian regional settings ("1234.50" reads
// as 123450 because the dot is the thousands separator), divided by 100, formatted "##,#0.00"
// ("1.234,50"). Answers "" for a text that is not a number; the caller's frontend shows the error.
struct FormatResult {
    bool ok;
    std::string text;
};
FormatResult FormataValor(std::string_view amount);

// The platform's "@" text format: each "@" takes one character of the text or a blank when the text is
// used up. Placeholders fill from the right, so a short text is padded with blanks on the left and the
// characters of a long text that find no placeholder are put in front; with "!" anywhere in the mask
// they fill from the left, blanks pad on the right and surplus characters follow the mask.
// ("1234", U"@@@@@@") gives "  1234"; ("131234567", U"@@.@@@.@@@-@") gives "13.123.456-7".
std::string formatWithPlaceholders(std::string_view text, std::u32string_view mask);

// Display masks of the receipt.
std::string MascaraCep(std::string& postalCode);            // "78000-000" -> "78.000-000"; argument cleaned in place
std::string MascaraTelefone(std::string_view phone);        // by digit count, see the receipt layouts
std::string MascaraCnpjCpf(std::string_view document);      // 11 or 14 digits, else ""

// Upper and lower case of UTF-8 text, Latin-1 letters included (ç -> Ç, ñ -> Ñ).
std::string toUpperText(std::string_view text);
std::string toLowerText(std::string_view text);
// Leading and trailing blanks (spaces only, as the original's Trim) removed.
std::string trimBlanks(std::string_view text);
// Characters in UTF-8 text.
std::size_t characterCount(std::string_view text);
// The first `count` characters (Left$) and the characters from `start` (0-based, Mid$).
std::string leftCharacters(std::string_view text, std::size_t count);
std::string midCharacters(std::string_view text, std::size_t start, std::size_t count = std::string::npos);

}  // namespace quorvanti::document
