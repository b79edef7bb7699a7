// The layout's date and time with UTC offset ("2026-03-05T14:07:00-04:00"), read into an instant, as
// the authority compares dhEmi, dhRecbto and the time of receipt.
#pragma once

#include <ctime>
#include <string>

namespace quorvanti::sefaz {

// Seconds since the epoch of "yyyy-mm-ddThh:mm:ss+hh:mm" (or -hh:mm); false for any other form.
bool parseDateTime(const std::string& text, std::time_t& time);

}  // namespace quorvanti::sefaz
