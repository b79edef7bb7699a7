#include "document/text/vb_conversions.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <locale>
#include <sstream>
#include <cstdlib>
#include <string>

namespace quorvanti::document {

double Val(std::string_view text) {
    std::string digits;
    bool sawDigit = false, sawPoint = false, sawSign = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        if ((c == '-' || c == '+') && !sawSign && !sawDigit && !sawPoint) {
            sawSign = true;
            digits += c;
        } else if (c >= '0' && c <= '9') {
            sawDigit = true;
            digits += c;
        } else if (c == '.' && !sawPoint) {
            sawPoint = true;
            digits += c;
        } else {
            break;
        }
    }
    if (!sawDigit) return 0;
    return std::strtod(digits.c_str(), nullptr);
}

double toNumber(std::string_view text) {
    std::size_t begin = text.find_first_not_of(' ');
    std::size_t end = text.find_last_not_of(' ');
    if (begin == std::string_view::npos) throw std::invalid_argument("Tipos incompatíveis");
    std::string body(text.substr(begin, end - begin + 1));
    bool sawDigit = false, sawSeparator = false;
    for (std::size_t i = 0; i < body.size(); ++i) {
        char& c = body[i];
        if (c >= '0' && c <= '9') {
            sawDigit = true;
        } else if ((c == ',' || c == '.') && !sawSeparator) {
            sawSeparator = true;
            c = '.';
        } else if ((c == '-' || c == '+') && i == 0) {
        } else {
            throw std::invalid_argument("Tipos incompatíveis");
        }
    }
    if (!sawDigit) throw std::invalid_argument("Tipos incompatíveis");
    return std::strtod(body.c_str(), nullptr);
}

namespace {

bool allDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// "5.000", "1.250.000": a first group of 1 to 3 digits not starting with 0, then groups of exactly 3.
bool groupedInThousands(std::string_view text) {
    const std::size_t firstDot = text.find('.');
    if (firstDot == std::string_view::npos || firstDot == 0 || firstDot > 3 || text[0] == '0') return false;
    if (!allDigits(text.substr(0, firstDot))) return false;
    for (std::size_t at = firstDot; at < text.size(); at += 4) {
        if (text[at] != '.' || !allDigits(text.substr(at + 1, 3)) || text.size() < at + 4) return false;
    }
    return true;
}

std::string withoutDots(std::string_view text) {
    std::string out(text);
    std::erase(out, '.');
    return out;
}

}  // namespace

std::optional<double> settingNumber(std::string_view text) {
    const std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return std::nullopt;
    text = text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
    std::string number;
    if (text[0] == '-' || text[0] == '+') {
        if (text[0] == '-') number = "-";
        text.remove_prefix(1);
    }
    const std::size_t comma = text.find(',');
    std::string_view whole = text.substr(0, comma);
    if (comma != std::string_view::npos) {
        const std::string_view decimals = text.substr(comma + 1);
        if (!allDigits(decimals)) return std::nullopt;
        if (allDigits(whole)) number += std::string(whole);
        else if (groupedInThousands(whole)) number += withoutDots(whole);
        else return std::nullopt;
        number += "." + std::string(decimals);
    } else if (allDigits(whole) || groupedInThousands(whole)) {
        number += withoutDots(whole);
    } else {
        const std::size_t point = whole.find('.');
        if (point == std::string_view::npos || !allDigits(whole.substr(0, point)) ||
            !allDigits(whole.substr(point + 1)))
            return std::nullopt;
        number += std::string(whole);
    }
    double value = 0;
    if (std::from_chars(number.data(), number.data() + number.size(), value).ec != std::errc()) return std::nullopt;
    return value;
}

std::string integerText(double value) {
    const double rounded = std::nearbyint(value);  // default rounding mode: half to even
    if (!std::isfinite(rounded)) throw std::overflow_error("Estouro");
    if (rounded == 0) return "0";  // -0.4 rounds to a negative zero, written without its sign
    // The exact digits of any magnitude: numbers read from settings and queue rows may hold more than
    // a 64-bit integer (a conversion to one would be undefined).
    char text[400];
    const auto written = std::to_chars(text, text + sizeof text, rounded, std::chars_format::fixed, 0);
    return std::string(text, written.ptr);
}

std::string zeroPadded(double value, int digits) {
    const std::string whole = integerText(value);
    const bool negative = whole[0] == '-';
    std::string body = whole.substr(negative ? 1 : 0);
    if (static_cast<int>(body.size()) < digits) body.insert(0, static_cast<std::size_t>(digits) - body.size(), '0');
    return negative ? "-" + body : body;
}

std::int32_t componentInteger(std::string_view text) {
    const double value = std::nearbyint(toNumber(text));
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        throw std::overflow_error("Estouro");
    return static_cast<std::int32_t>(value);
}

std::string sqlNumber(double value) {
    if (value == std::floor(value) && std::fabs(value) < 1e15) return integerText(value);
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.precision(15);
    out << value;
    return out.str();
}

}  // namespace quorvanti::document
