#include "document/vb_conversions.h"

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
