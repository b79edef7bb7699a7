#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "context/retry_schedule.h"
#include "context/run_settings.h"
#include "context/shop_clock.h"

namespace quorvanti::context {
namespace {

using std::chrono::milliseconds;
using std::chrono::minutes;
using std::chrono::seconds;

// A sale kept again and again waits 3 s, then twice as long each time, never more than 10 minutes;
// another sale's failures do not lengthen its wait, and a sale that ended starts again at 3 s.
TEST(RetryScheduleTest, DelaysDoubleFromThreeSecondsUpToTenMinutesPerSale) {
    RetrySchedule retries;
    milliseconds now{1000};
    const seconds expected[] = {seconds(3),   seconds(6),   seconds(12),  seconds(24),  seconds(48),
                                seconds(96),  seconds(192), seconds(384), minutes(10), minutes(10)};
    for (const seconds wait : expected) {
        retries.postpone("1-01", "Sem resposta", now);
        retries.postpone("2-01", "Sem resposta", now);
        EXPECT_EQ(retries.dueAt("1-01") - now, wait);
        EXPECT_FALSE(retries.isDue("1-01", now + wait - milliseconds(1)));
        EXPECT_TRUE(retries.isDue("1-01", now + wait));
        now += wait;
    }
    EXPECT_EQ(retries.lastFailure("1-01"), "Sem resposta");
    retries.forget("1-01");
    EXPECT_EQ(retries.lastFailure("1-01"), "");
    retries.postpone("1-01", "Rejeição", now);
    EXPECT_EQ(retries.dueAt("1-01") - now, seconds(3));
}

// The dates the point-of-sale program stores, read in the shop's offset (or their own), and the
// texts that must not be taken for a date.
TEST(ShopClockTest, ReadsTheStoredDateTimesInTheShopsOffset) {
    RunSettings settings;
    settings.TimeZone = "-04:00";
    const platform::Instant noonInCuiaba = platform::instantOf({2026, 3, 5, 12, 0, 0}, -std::chrono::hours(4));
    const struct {
        const char* text;
        std::optional<platform::Instant> read;
    } rows[] = {
        {"05/03/2026 12:00:00", noonInCuiaba},
        {"5/3/2026 12:00", noonInCuiaba},
        {"2026-03-05 12:00:00", noonInCuiaba},
        {"2026/03/05 12:00:00", noonInCuiaba},
        {"2026-03-05T13:00:00-03:00", noonInCuiaba},
        {"2026-03-05T16:00:00.250Z", noonInCuiaba},
        {"31/02/2026 12:00:00", std::nullopt},
        {"05/03/2026 24:00:00", std::nullopt},
        {"05/03/2026", std::nullopt},
        {"2026-03-05T12:00:00+25:00", std::nullopt},
        {"ontem", std::nullopt},
    };
    for (const auto& row : rows) EXPECT_EQ(readShopDateTime(settings, row.text), row.read) << row.text;
    EXPECT_EQ(shopDateTimeText(settings, noonInCuiaba), "2026-03-05T12:00:00-04:00");
    settings.TimeZone = "+12:00";
    EXPECT_EQ(shopDateTimeText(settings, noonInCuiaba), "2026-03-06T04:00:00+12:00");
    // (A half-hour offset never reaches here: start-up refuses it, StartUpSettingsTest.)
}

}  // namespace
}  // namespace quorvanti::context
