// Small pieces every answer of the local authority is written with: the application version it names,
// the status pair, and the digit fields of the layouts (keys, protocols, numbers).
#pragma once

#include <cstddef>
#include <string>

namespace quorvanti::sefaz {

// verAplic of every answer.
inline constexpr const char* kVerAplic = "quorvanti-sefaz 1.0";

// <cStat>cStat</cStat><xMotivo>xMotivo escaped</xMotivo>
std::string statusXml(int cStat, const std::string& xMotivo);

// Whether `text` is `min` to `max` decimal digits (`length` exactly).
bool digitsBetween(const std::string& text, std::size_t min, std::size_t max);
inline bool digits(const std::string& text, std::size_t length) { return digitsBetween(text, length, length); }

// `text` with zeros on the left up to `width` characters.
std::string padded(const std::string& text, std::size_t width);

}  // namespace quorvanti::sefaz
