#include "database/date_literal.h"

#include <cstdio>
#include <stdexcept>
#include <string_view>

namespace quorvanti::database {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Reads a run of 1..maxDigits digits at `pos`; -1 when there is none.
int readNumber(std::string_view text, std::size_t& pos, std::size_t minDigits, std::size_t maxDigits) {
    std::size_t start = pos;
    int value = 0;
    while (pos < text.size() && isDigit(text[pos]) && pos - start < maxDigits) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    if (pos - start < minDigits) return -1;
    if (pos < text.size() && isDigit(text[pos])) return -1;  // too many digits
    return value;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool isCalendarDate(int year, int month, int day) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    const int last = kDays[month - 1] + ((month == 2 && isLeapYear(year)) ? 1 : 0);
    return day <= last;
}

std::string padded(int value, int width) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
    return buffer;
}

// Writes the date with the tokens "yyyy", "mm" and "dd"; every other character is copied.
std::string formatDate(const DbDate& date, std::string_view format) {
    std::string out;
    for (std::size_t i = 0; i < format.size();) {
        std::string_view rest = format.substr(i);
        if (rest.starts_with("yyyy")) {
            out += padded(date.year, 4);
            i += 4;
        } else if (rest.starts_with("mm")) {
            out += padded(date.month, 2);
            i += 2;
        } else if (rest.starts_with("dd")) {
            out += padded(date.day, 2);
            i += 2;
        } else {
            out += format[i++];
        }
    }
    return out;
}

std::string_view withoutTrailingBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view withoutLeadingBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    return text;
}

DbDate requireDate(const std::string& text) {
    auto date = readDate(text);
    if (!date) throw std::invalid_argument("not a date: \"" + text + "\"");
    return *date;
}

}  // namespace

std::optional<DbDate> readDate(const std::string& text) {
    std::string_view rest = trimmed(text);
    // A time after the date (a date-time text) does not change the day.
    if (auto blank = rest.find(' '); blank != std::string_view::npos) rest = rest.substr(0, blank);

    std::size_t pos = 0;
    DbDate date;
    if (rest.size() >= 5 && rest[4] == '-') {
        date.year = readNumber(rest, pos, 4, 4);
        if (date.year < 0 || pos >= rest.size() || rest[pos++] != '-') return std::nullopt;
        date.month = readNumber(rest, pos, 2, 2);
        if (date.month < 0 || pos >= rest.size() || rest[pos++] != '-') return std::nullopt;
        date.day = readNumber(rest, pos, 2, 2);
    } else {
        date.day = readNumber(rest, pos, 1, 2);
        if (date.day < 0 || pos >= rest.size() || rest[pos++] != '/') return std::nullopt;
        date.month = readNumber(rest, pos, 1, 2);
        if (date.month < 0 || pos >= rest.size() || rest[pos++] != '/') return std::nullopt;
        date.year = readNumber(rest, pos, 4, 4);
    }
    if (date.day < 0 || pos != rest.size()) return std::nullopt;
    if (!isCalendarDate(date.year, date.month, date.day)) return std::nullopt;
    return date;
}

std::string dateQuote(DbKind kind) { return kind == DbKind::MariaDb ? " ' " : "'"; }

std::string dateFormat(DbKind kind) { return kind == DbKind::MariaDb ? "yyyy/mm/dd" : "yyyy-mm-dd"; }

std::string dateLiteral(const std::string& saleDate, const std::string& quote, const std::string& format) {
    const DbDate date = requireDate(saleDate);
    // The MariaDB delimiter " ' " keeps its blanks outside the apostrophes: " '2024/03/05' ", the text
    // the stored statements were written with. (The server would also read ' 2024/03/05 ', but the
    // date itself stays clean for any other database.)
    return std::string(withoutTrailingBlanks(quote)) + formatDate(date, format) +
           std::string(withoutLeadingBlanks(quote));
}

std::string dateForStoring(DbKind kind, const std::string& date, const std::string& time) {
    const bool hasDate = !trimmed(date).empty();
    const bool hasTime = !trimmed(time).empty();
    if (hasDate && hasTime) throw std::invalid_argument("dateForStoring takes a date or a time, not both");
    if (hasDate) {
        return formatDate(requireDate(date), kind == DbKind::MariaDb ? "yyyy-mm-dd" : "dd/mm/yyyy");
    }
    if (!hasTime) return "";

    std::string_view text = trimmed(time);
    std::size_t pos = 0;
    int hour = readNumber(text, pos, 1, 2);
    int minute = -1, second = 0;
    if (hour >= 0 && pos < text.size() && text[pos++] == ':') minute = readNumber(text, pos, 2, 2);
    if (minute >= 0 && pos < text.size()) {
        second = (text[pos++] == ':') ? readNumber(text, pos, 2, 2) : -1;
    }
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || pos != text.size()) {
        throw std::invalid_argument("not a time: \"" + time + "\"");
    }
    return padded(hour, 2) + ":" + padded(minute, 2) + ":" + padded(second, 2);
}

}  // namespace quorvanti::database
