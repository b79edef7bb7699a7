#include "context/shop_clock.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "context/program_files.h"

namespace quorvanti::context {

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

// Reads the text left to right; every reader answers false, and leaves the cursor anywhere, on a mismatch.
class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    bool atEnd() const { return at_ == text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[at_]; }
    bool take(char c) {
        if (peek() != c) return false;
        ++at_;
        return true;
    }
    // A number of `min` to `max` digits.
    bool number(int& value, std::size_t min, std::size_t max) {
        value = 0;
        std::size_t count = 0;
        while (count < max && std::isdigit(static_cast<unsigned char>(peek()))) {
            value = value * 10 + (text_[at_++] - '0');
            ++count;
        }
        return count >= min;
    }
    void skipDigits() {
        while (std::isdigit(static_cast<unsigned char>(peek()))) ++at_;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

// "hh:mm" or "hh:mm:ss".
bool timeOfDay(Cursor& in, platform::LocalDateTime& t) {
    if (!in.number(t.hour, 1, 2) || !in.take(':') || !in.number(t.minute, 2, 2)) return false;
    t.second = 0;
    return !in.take(':') || in.number(t.second, 2, 2);
}

// "+hh:mm", "-hh:mm" or "Z" at the end of the text.
bool offsetSuffix(Cursor& in, std::chrono::seconds& offset) {
    if (in.take('Z')) {
        offset = std::chrono::seconds{0};
        return in.atEnd();
    }
    const char sign = in.peek();
    if (!in.take('+') && !in.take('-')) return false;
    int hours = 0, minutes = 0;
    if (!in.number(hours, 2, 2) || !in.take(':') || !in.number(minutes, 2, 2) || !in.atEnd()) return false;
    if (hours > 14 || minutes > 59) return false;
    offset = std::chrono::seconds{(sign == '-' ? -1 : 1) * (hours * 3600 + minutes * 60)};
    return true;
}

std::string offsetText(std::chrono::seconds offset) {
    const long long total = offset.count() < 0 ? -offset.count() : offset.count();
    char out[40];
    std::snprintf(out, sizeof out, "%c%02lld:%02lld", offset.count() < 0 ? '-' : '+', total / 3600, total % 3600 / 60);
    return out;
}

}  // namespace

std::string timeZoneSetting(const AppContext& ctx) {
    const std::string written = readGeral(ctx, "FUSO");
    return written.find_first_not_of(' ') == std::string::npos ? "-04:00" : written;
}

std::chrono::seconds shopOffset(const RunSettings& settings) {
    Cursor in(trimmed(settings.TimeZone));
    std::chrono::seconds offset{0};
    // Every document date-time is written in this offset, and the layout's date-time takes whole hours
    // from -11:00 to +12:00 only: any other offset would make every sale's document invalid.
    const bool inLayout = in.peek() != 'Z' && offsetSuffix(in, offset) && offset.count() % 3600 == 0 &&
                          offset >= -std::chrono::hours(11) && offset <= std::chrono::hours(12);
    if (!inLayout)
        throw std::runtime_error("Fuso horário inválido na configuração FUSO: \"" + settings.TimeZone +
                                 "\" (use de -11:00 a +12:00 em horas inteiras, como -04:00)");
    return offset;
}

platform::LocalDateTime shopNow(const AppContext& ctx) {
    return platform::dateTimeAt(ctx.services.clock.utcNow(), shopOffset(ctx.settings));
}

std::string shopDateTimeText(const RunSettings& settings, platform::Instant instant) {
    const std::chrono::seconds offset = shopOffset(settings);
    const platform::LocalDateTime t = platform::dateTimeAt(instant, offset);
    char out[32];
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return out + offsetText(offset);
}

std::string shopNowText(const AppContext& ctx) {
    return shopDateTimeText(ctx.settings, ctx.services.clock.utcNow());
}

std::string brazilianDateTimeText(const platform::LocalDateTime& t) {
    char out[32];
    std::snprintf(out, sizeof out, "%02d/%02d/%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour, t.minute, t.second);
    return out;
}

std::optional<platform::Instant> readShopDateTime(const RunSettings& settings, std::string_view text) {
    Cursor in(trimmed(text));
    platform::LocalDateTime t;
    std::optional<std::chrono::seconds> ownOffset;
    int first = 0;
    if (!in.number(first, 1, 4)) return std::nullopt;
    if (in.peek() == '/' && first <= 31) {
        // dd/mm/yyyy hh:mm[:ss], as the Brazilian regional settings write a date-time.
        t.day = first;
        if (!in.take('/') || !in.number(t.month, 1, 2) || !in.take('/') || !in.number(t.year, 4, 4) || !in.take(' ') ||
            !timeOfDay(in, t) || !in.atEnd())
            return std::nullopt;
    } else {
        // yyyy-mm-dd (or yyyy/mm/dd), then "T" or a blank, the time, and in the ISO forms an offset.
        t.year = first;
        if (first < 1000) return std::nullopt;
        const char separator = in.peek();
        if ((separator != '-' && separator != '/') || !in.take(separator) || !in.number(t.month, 2, 2) ||
            !in.take(separator) || !in.number(t.day, 2, 2) || !(in.take('T') || in.take(' ')) || !timeOfDay(in, t))
            return std::nullopt;
        if (in.take('.')) in.skipDigits();
        if (!in.atEnd()) {
            std::chrono::seconds offset{0};
            if (separator != '-' || !offsetSuffix(in, offset)) return std::nullopt;
            ownOffset = offset;
        }
    }
    if (!platform::validDateTime(t)) return std::nullopt;
    return platform::instantOf(t, ownOffset ? *ownOffset : shopOffset(settings));
}

}  // namespace quorvanti::context
