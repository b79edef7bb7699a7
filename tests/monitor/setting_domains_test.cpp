// The FUSO domain: the offsets the layout's date-time carries (whole hours from -11:00 to +12:00), so
// that start-up and the parameter editor refuse an offset that would make every sale's document invalid.
#include "monitor/setting_domains.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <tuple>

#include "context/shop_clock.h"

namespace quorvanti::monitor {
namespace {

using ::testing::HasSubstr;
using std::chrono::hours;

TEST(FusoDomainTest, TakesTheWholeHourOffsetsOfTheLayoutAndRefusesTheRest) {
    const std::tuple<const char*, std::optional<hours>> cases[] = {
        {"-04:00", hours(-4)}, {" -03:00 ", hours(-3)}, {"-11:00", hours(-11)}, {"+11:00", hours(11)},
        {"+12:00", hours(12)}, {"+00:00", hours(0)},    {"-00:00", hours(0)},   {"-04:30", std::nullopt},
        {"+05:45", std::nullopt}, {"-12:00", std::nullopt}, {"+13:00", std::nullopt}, {"+14:00", std::nullopt},
        {",04:00", std::nullopt}, {"04:00", std::nullopt},  {"-4", std::nullopt},     {"-04:00:00", std::nullopt},
        {"Z", std::nullopt},
    };
    for (const auto& [value, offset] : cases) {
        SCOPED_TRACE(value);
        context::RunSettings settings;
        settings.TimeZone = value;
        const std::string problem = settingDomainProblem("FUSO", value);
        if (offset) {
            EXPECT_EQ(problem, "");
            EXPECT_EQ(context::shopOffset(settings), *offset);
        } else {
            EXPECT_THAT(problem, HasSubstr("de -11:00 a +12:00 em horas inteiras"));
            EXPECT_THROW(context::shopOffset(settings), std::runtime_error);
        }
    }
}

}  // namespace
}  // namespace quorvanti::monitor
