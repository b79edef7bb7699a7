// The shop's clock. The document's date-times (dhEmi, dhCont) and the shop's "today" are the real
// instant expressed in the FUSO offset of the settings (RunSettings.TimeZone, "-04:00"), whatever the
// time zone of the host: a server in UTC and a workstation in the shop write the same texts, and the
// authority, which compares instants, finds them true. Also the reading of date-times the point-of-sale
// program stores.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "context/app_context.h"
#include "platform/clock.h"

namespace quorvanti::context {

// The FUSO setting as written, "-04:00" when it is blank.
std::string timeZoneSetting(const AppContext& ctx);

// The FUSO offset east of UTC ("-04:00" → -4 h; blanks around it allowed). Raises std::runtime_error
// naming the setting when it is not "+hh:mm" or "-hh:mm" in whole hours from -11:00 to +12:00, the
// offsets the layout's date-time (TDateTimeUTC) allows.
std::chrono::seconds shopOffset(const RunSettings& settings);

// The current date and time at the shop: the real instant in the FUSO offset.
platform::LocalDateTime shopNow(const AppContext& ctx);

// `instant` as the layout writes a date-time (AAAA-MM-DDThh:mm:ssTZD) in the FUSO offset:
// "2026-12-06T21:23:03-04:00".
std::string shopDateTimeText(const RunSettings& settings, platform::Instant instant);
// The same for now: the text of dhEmi.
std::string shopNowText(const AppContext& ctx);

// `t` as the shop reads a date-time: "dd/mm/yyyy hh:mm:ss" (the operator's panel writes every date so).
std::string brazilianDateTimeText(const platform::LocalDateTime& t);

// A date-time stored by the point-of-sale program: "dd/mm/yyyy hh:mm:ss", "yyyy-mm-dd hh:mm:ss",
// "yyyy-mm-ddThh:mm:ss" (also "yyyy/mm/dd"; seconds may be left out; day, month and hour may have one
// digit), read in the FUSO offset; or the ISO forms with their own offset ("...-03:00", "...Z",
// fractions of a second ignored). nullopt for anything else, or a date that does not exist.
std::optional<platform::Instant> readShopDateTime(const RunSettings& settings, std::string_view text);

}  // namespace quorvanti::context
