#include "printing/receipt_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "document/text/text_helpers.h"

namespace quorvanti::printing {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool allDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!isDigit(c)) return false;
    return true;
}

// `value` rounded half away from zero to `decimals` places, as decimal digits: the integer digits
// (no sign, at least "0") and exactly `decimals` fraction digits. The value's 15 significant digits
// are rounded, not its binary neighbour, as the original's Format does.
void roundedDigits(double value, int decimals, std::string& integer, std::string& fraction) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(value));
    // buffer: d.dddddddddddddde[+-]xx
    std::string digits;
    for (const char* p = buffer; *p && *p != 'e'; ++p)
        if (isDigit(*p)) digits.push_back(*p);
    const int exponent = std::atoi(std::strchr(buffer, 'e') + 1);
    // digits represent 0.d1d2... x 10^(exponent + 1)
    int pointAt = exponent + 1;  // digits before the decimal point
    if (pointAt < 0) {
        digits.insert(0, static_cast<std::size_t>(-pointAt), '0');
        pointAt = 0;
    }
    if (static_cast<int>(digits.size()) < pointAt + decimals + 1)
        digits.append(static_cast<std::size_t>(pointAt + decimals + 1 - static_cast<int>(digits.size())), '0');
    const bool up = digits[static_cast<std::size_t>(pointAt + decimals)] >= '5';
    digits.resize(static_cast<std::size_t>(pointAt + decimals));
    if (up) {
        std::size_t i = digits.size();
        while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
        if (i == 0) {
            digits.insert(digits.begin(), '1');
            ++pointAt;
        } else {
            ++digits[i - 1];
        }
    }
    integer = digits.substr(0, static_cast<std::size_t>(pointAt));
    fraction = digits.substr(static_cast<std::size_t>(pointAt));
    const std::size_t significant = integer.find_first_not_of('0');
    integer = significant == std::string::npos ? "" : integer.substr(significant);
}

}  // namespace

std::string Centraliza(std::string_view text, int width) {
    const auto length = static_cast<int>(document::characterCount(text));
    if (length > width) return std::string(text);
    const auto pad = static_cast<int>(std::nearbyint((width - length) / 2.0));  // ties to even
    const int after = std::min(pad, width - length - pad);
    return std::string(static_cast<std::size_t>(pad), ' ') + std::string(text) + std::string(static_cast<std::size_t>(after), ' ');
}

std::string wrapColumns(std::string_view text, int width) {
    const auto columns = static_cast<std::size_t>(std::max(width, 1));
    std::string out;
    std::size_t from = 0;
    while (true) {
        const std::size_t end = text.find("\r\n", from);
        std::string line(text.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from));
        while (document::characterCount(line) > columns) {
            // The byte where character `columns` starts: the first that does not fit.
            std::size_t cut = 0;
            for (std::size_t n = 0; n < columns; ++n) {
                ++cut;
                while (cut < line.size() && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) ++cut;
            }
            const std::size_t blank = line.rfind(' ', cut);
            const bool atBlank = blank != std::string::npos && blank > 0 && line.find_first_not_of(' ') < blank;
            out += line.substr(0, atBlank ? blank : cut) + "\r\n";
            line.erase(0, atBlank ? blank + 1 : cut);
        }
        out += line;
        if (end == std::string_view::npos) return out;
        out += "\r\n";
        from = end + 2;
    }
}

std::string AlinhaDireita(std::string_view value, int width, char fill) {
    return document::CompletaEsquerda(value, width, static_cast<char32_t>(fill));
}

std::string rightInColumn(std::string_view text, int width) {
    return document::formatWithPlaceholders(text, std::u32string(static_cast<std::size_t>(width), U'@'));
}

std::string accessKeyGroups(std::string_view key) {
    return document::formatWithPlaceholders(key, U"@@@@ @@@@ @@@@ @@@@ @@@@ @@@@ @@@@ @@@@ @@@@ @@@@ @@@@");
}

std::optional<double> regionalNumber(std::string_view text) {
    const std::string trimmed = document::trimBlanks(text);
    std::string plain;
    bool digits = false, comma = false;
    for (std::size_t i = 0; i < trimmed.size(); ++i) {
        const char c = trimmed[i];
        if (isDigit(c)) {
            digits = true;
            plain.push_back(c);
        } else if (c == '.' && !comma) {
            continue;  // thousands separator
        } else if (c == ',' && !comma) {
            comma = true;
            plain.push_back('.');
        } else if ((c == '-' || c == '+') && i == 0) {
            plain.push_back(c);
        } else {
            return std::nullopt;
        }
    }
    if (!digits) return std::nullopt;
    if (plain[0] == '+') plain.erase(0, 1);
    double value = 0;
    std::from_chars(plain.data(), plain.data() + plain.size(), value);
    return value;
}

std::string regionalText(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15G", value);
    std::string text = buffer;
    for (char& c : text)
        if (c == '.') c = ',';
    return text == "-0" ? "0" : text;
}

std::string formatNumber(double value, std::string_view pattern) {
    const std::size_t point = pattern.find('.');
    const std::string_view integerPattern = pattern.substr(0, point);
    const int decimals = point == std::string_view::npos ? 0 : static_cast<int>(pattern.size() - point - 1);
    std::size_t minimumDigits = 0;
    bool grouped = false;
    for (char c : integerPattern) {
        if (c == '0') ++minimumDigits;
        if (c == ',') grouped = true;
    }
    std::string integer, fraction;
    roundedDigits(value, decimals, integer, fraction);
    if (integer.size() < minimumDigits) integer.insert(0, minimumDigits - integer.size(), '0');
    std::string out;
    if (value < 0 && (integer.find_first_not_of('0') != std::string::npos ||
                      fraction.find_first_not_of('0') != std::string::npos))
        out.push_back('-');
    for (std::size_t i = 0; i < integer.size(); ++i) {
        if (grouped && i > 0 && (integer.size() - i) % 3 == 0) out.push_back('.');
        out.push_back(integer[i]);
    }
    if (decimals > 0) out += "," + fraction;
    return out;
}

std::string formatText(std::string_view text, std::string_view pattern) {
    // Codes and numbers of digits alone are padded as text: a 20-digit product code has more digits
    // than a floating-point number keeps.
    if (allDigits(text) && pattern.find_first_not_of('0') == std::string_view::npos)
        return text.size() >= pattern.size() ? std::string(text)
                                             : std::string(pattern.size() - text.size(), '0') + std::string(text);
    const std::optional<double> number = regionalNumber(text);
    return number ? formatNumber(*number, pattern) : std::string(text);
}

std::string fitDecimal(const std::string& value, int width, int decimals) {
    const auto fits = [&](const std::string& text) {
        return document::characterCount(text) <= static_cast<std::size_t>(width);
    };
    if (fits(value)) return value;
    const std::size_t point = value.find('.');
    if (point == std::string::npos) return value;
    std::string shorter = value;
    const std::size_t last = std::max(shorter.find_last_not_of('0'), point + static_cast<std::size_t>(decimals));
    if (last + 1 < shorter.size()) shorter.erase(last + 1);
    if (!shorter.empty() && shorter.back() == '.') shorter.pop_back();
    if (fits(shorter)) return shorter;
    const double number = xmlDecimal(value);
    for (const int places : {decimals, 0}) {
        const std::string pattern = places > 0 ? "0." + std::string(static_cast<std::size_t>(places), '0') : "0";
        std::string rounded = formatNumber(number, pattern);
        for (char& c : rounded)
            if (c == ',') c = '.';
        if (fits(rounded) || places == 0) return rounded;
    }
    return value;
}

std::string xmlCentsText(long long cents) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld.%02lld", cents < 0 ? "-" : "", std::llabs(cents) / 100,
                  std::llabs(cents) % 100);
    return text;
}

double xmlDecimal(std::string_view text) {
    const std::string trimmed = document::trimBlanks(text);
    const char* begin = trimmed.data();
    if (!trimmed.empty() && trimmed[0] == '+') ++begin;
    double value = 0;
    const auto [end, error] = std::from_chars(begin, trimmed.data() + trimmed.size(), value);
    return error == std::errc() ? value : 0;
}

}  // namespace quorvanti::printing
