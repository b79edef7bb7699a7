#include "sefaz_simulator/messages/date_time.h"

#include <cstdio>

namespace quorvanti::sefaz {

bool parseDateTime(const std::string& text, std::time_t& time) {
    int year, month, day, hour, minute, second, offsetHour, offsetMinute;
    char sign;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &year, &month, &day, &hour, &minute, &second,
                    &sign, &offsetHour, &offsetMinute) != 9 ||
        (sign != '+' && sign != '-'))
        return false;
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    const long offset = (sign == '-' ? -1 : 1) * (offsetHour * 3600L + offsetMinute * 60L);
    time = timegm(&parts) - offset;
    return true;
}

}  // namespace quorvanti::sefaz
