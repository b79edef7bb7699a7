// The conversions between text and numbers that the program's procedures rely on, with the rules of
// the platform the monitor came from: `Val` reads the leading number of a text and ignores the rest,
// while `toNumber` insists on a whole number and raises an error otherwise (the "type mismatch" of a
// strict conversion). Locale-independent.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorvanti::document {

// The leading number of `text`: blanks are skipped anywhere inside the number, a sign and one decimal
// point are allowed, reading stops at the first other character; no number gives 0. "03" -> 3,
// " 1 2x" -> 12, "abc" -> 0, "-4.5" -> -4.5, "2,5" -> 2 (a comma ends the number).
double Val(std::string_view text);

// A strict conversion of the whole text (surrounding blanks allowed), the decimal separator being a
// comma or a point as the Brazilian regional settings accept: "12,5" -> 12.5, "3" -> 3. An empty or
// non-numeric text raises std::invalid_argument("Tipos incompatíveis").
double toNumber(std::string_view text);

// A number written in a settings file ("LimiteNfce"), read with the Brazilian conventions: a comma is
// the decimal separator and dots group thousands ("5.000,00", "5000,00", "5000"). Without a comma, dots
// that group the digits in threes after a first group of 1 to 3 digits (not starting with 0) are
// thousands separators ("5.000" and "1.250.000" are whole thousands); otherwise one dot is a decimal
// point ("5000.00", "0.500"). An optional sign may lead; blanks around the number are ignored.
// Anything else ("", "abc", "5,000.00", "5.00,00", "1e3", "5 000") answers nothing, so that the caller
// reports the setting instead of reading it as 0.
std::optional<double> settingNumber(std::string_view text);

// A whole number as decimal text without fill: 3 -> "3", -12 -> "-12", 1e20 -> "100000000000000000000".
// Rounds half to even first, as an integer conversion of the platform does. Raises std::overflow_error
// for an infinite or undefined value.
std::string integerText(double value);

// `value` rounded to an integer and written with at least `digits` digits ("00" format): (3, 2) -> "03".
std::string zeroPadded(double value, int digits);

// A number held as text ("65", "5103403") as the component's 32-bit integer: a strict conversion,
// rounded half to even. Raises std::invalid_argument for a text that is not a number and
// std::overflow_error beyond 32 bits, so the calling group's handler reports it.
std::int32_t componentInteger(std::string_view text);

// A number as it is written unquoted into SQL text: whole numbers without decimals ("12"), others with
// a decimal point ("12.5"), never in the regional form.
std::string sqlNumber(double value);

}  // namespace quorvanti::document
