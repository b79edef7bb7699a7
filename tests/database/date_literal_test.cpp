#include "database/date_literal.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace quorvanti::database {
namespace {

TEST(DateLiteralTest, EachKindWritesItsOwnLiteralOfARealDate) {
    EXPECT_EQ(dateQuote(DbKind::MariaDb), " ' ");
    EXPECT_EQ(dateFormat(DbKind::MariaDb), "yyyy/mm/dd");
    // Blank, apostrophe, date, apostrophe, blank.
    EXPECT_EQ(dateLiteral("05/03/2024", dateQuote(DbKind::MariaDb), dateFormat(DbKind::MariaDb)), " '2024/03/05' ");
    EXPECT_EQ(dateLiteral("05/03/2024", dateQuote(DbKind::Sqlite), dateFormat(DbKind::Sqlite)), "'2024-03-05'");
    EXPECT_EQ(dateLiteral("2024-03-05", "'", "yyyy-mm-dd"), "'2024-03-05'");
    // The Access form, written from the same tokens.
    EXPECT_EQ(dateLiteral("5/3/2024", "#", "mm/dd/yyyy"), "#03/05/2024#");
    // A date-time text keeps its day.
    EXPECT_EQ(dateLiteral("05/03/2024 13:45:00", "'", "yyyy-mm-dd"), "'2024-03-05'");
    EXPECT_EQ(dateLiteral("29/02/2024", "'", "yyyy-mm-dd"), "'2024-02-29'");
    // Non-dates are refused.
    for (const char* text : {"", "abc", "32/01/2024", "29/02/2023", "05/13/2024", "2024/03/05", "05-03-2024",
                             "05/03/24", "2024-3-5"}) {
        EXPECT_THROW(dateLiteral(text, "'", "yyyy-mm-dd"), std::invalid_argument) << text;
    }
}

TEST(DateLiteralTest, DateForStoringFollowsTheKind) {
    EXPECT_EQ(dateForStoring(DbKind::MariaDb, "05/03/2024", ""), "2024-03-05");
    EXPECT_EQ(dateForStoring(DbKind::Sqlite, "2024-03-05", ""), "05/03/2024");
    EXPECT_EQ(dateForStoring(DbKind::Sqlite, "", "9:05:07"), "09:05:07");
    EXPECT_EQ(dateForStoring(DbKind::MariaDb, "", "13:45"), "13:45:00");
    EXPECT_EQ(dateForStoring(DbKind::MariaDb, "", ""), "");
    EXPECT_THROW(dateForStoring(DbKind::MariaDb, "05/03/2024", "13:45:00"), std::invalid_argument);
    EXPECT_THROW(dateForStoring(DbKind::MariaDb, "", "25:00:00"), std::invalid_argument);
    EXPECT_THROW(dateForStoring(DbKind::Sqlite, "ontem", ""), std::invalid_argument);
}

}  // namespace
}  // namespace quorvanti::database
