#include "database/db_value.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "database/db_error.h"

namespace quorvanti::database {

namespace {

std::string twoDigits(int value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", value);
    return buffer;
}

std::string dateText(const DbDate& date) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", date.day, date.month, date.year);
    return buffer;
}

// The regional form of a number as the original's conversion to text wrote it: at most 15 significant
// digits (so a sum such as 0,1 + 0,2 reads "0,3"), a decimal comma, no thousands separator, an
// exponent only for very large or very small magnitudes.
std::string numberText(double value) {
    if (value == 0.0) return "0";  // also -0
    if (!std::isfinite(value)) return std::isnan(value) ? "NaN" : (value > 0 ? "Infinito" : "-Infinito");
    std::array<char, 64> buffer{};
    auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::general, 15);
    if (error != std::errc{}) return "0";
    std::string text(buffer.data(), end);
    for (char& c : text) {
        if (c == '.') c = ',';
        else if (c == 'e') c = 'E';
    }
    return text;
}

// Days between 30/12/1899 and the date: the serial number by which the original's date values
// converted to numbers.
long long serialDay(const DbDate& date) {
    // Days from civil (proleptic Gregorian), Howard Hinnant's algorithm.
    const int y = date.year - (date.month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned mp = static_cast<unsigned>(date.month > 2 ? date.month - 3 : date.month + 9);
    const unsigned doy = (153 * mp + 2) / 5 + static_cast<unsigned>(date.day) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long daysSinceUnixEpoch = static_cast<long long>(era) * 146097 + doe - 719468;
    return daysSinceUnixEpoch + 25569;  // 01/01/1970 is day 25569
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

[[noreturn]] void typeMismatch() { throw DbError("Tipos incompatíveis"); }

// Reads text as a number the way the Brazilian regional settings read it, and a decimal point too,
// because values stored by other programs carry one: "12,5", "1.234,5" and "12.5" are all read.
double parseNumber(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    std::string digits = text.substr(begin, end - begin);
    if (!digits.empty() && digits.front() == '+') digits.erase(0, 1);
    if (digits.find(',') != std::string::npos) {
        // A comma makes it the regional form: dots are thousands separators.
        std::string plain;
        for (char c : digits) {
            if (c == '.') continue;
            plain += (c == ',') ? '.' : c;
        }
        digits = plain;
    }
    if (digits.empty()) typeMismatch();
    for (char c : digits) {
        // from_chars also reads "inf", "nan" and hexadecimal forms, which are not numbers here.
        const bool allowed = (c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'e' || c == 'E';
        if (!allowed) typeMismatch();
    }
    double value = 0;
    auto [last, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || last != digits.data() + digits.size()) typeMismatch();
    return value;
}

}  // namespace

std::string DbValue::text() const {
    struct Visitor {
        std::string operator()(std::monostate) const { return ""; }
        std::string operator()(std::int64_t v) const { return std::to_string(v); }
        std::string operator()(double v) const { return numberText(v); }
        std::string operator()(const std::string& v) const { return v; }
        std::string operator()(const DbDate& v) const { return dateText(v); }
        std::string operator()(const DbDateTime& v) const {
            return dateText(v.date) + " " + twoDigits(v.hour) + ":" + twoDigits(v.minute) + ":" +
                   twoDigits(v.second);
        }
    };
    return std::visit(Visitor{}, value_);
}

double DbValue::number() const {
    struct Visitor {
        double operator()(std::monostate) const { throw DbError("Uso inválido de Null"); }
        double operator()(std::int64_t v) const { return static_cast<double>(v); }
        double operator()(double v) const { return v; }
        double operator()(const std::string& v) const { return parseNumber(v); }
        double operator()(const DbDate& v) const { return static_cast<double>(serialDay(v)); }
        double operator()(const DbDateTime& v) const {
            return static_cast<double>(serialDay(v.date)) + (v.hour * 3600 + v.minute * 60 + v.second) / 86400.0;
        }
    };
    return std::visit(Visitor{}, value_);
}

}  // namespace quorvanti::database
