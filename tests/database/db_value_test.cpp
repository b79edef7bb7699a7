#include "database/db_value.h"

#include <gtest/gtest.h>

#include "database/db_error.h"
#include "database/recordset.h"
#include "support/error_text.h"

namespace quorvanti::database {
namespace {

// Decimals read with the Brazilian comma in their shortest form; other kinds joined to empty text.
TEST(DbValueTest, TextIsWhatTheProgramReadsJoinedToEmptyText) {
    const std::pair<DbValue, const char*> cases[] = {
        {DbValue(12.5), "12,5"}, {DbValue(10.0), "10"}, {DbValue(0.1), "0,1"}, {DbValue(-3.25), "-3,25"},
        {DbValue(1234567.89), "1234567,89"},  // no thousands separator
        {DbValue(0.1 + 0.2), "0,3"},          // a sum of stored decimals, without binary noise
        {DbValue(-0.0), "0"}, {DbValue(1e20), "1E+20"}, {DbValue(), ""}, {DbValue(std::int64_t{-42}), "-42"},
        {DbValue(std::string("D'Ávila")), "D'Ávila"}, {DbValue(DbDate{2024, 3, 5}), "05/03/2024"},
        {DbValue(DbDateTime{{2024, 3, 5}, 9, 7, 3}), "05/03/2024 09:07:03"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(value.text(), text);
}

TEST(DbValueTest, NumberReadsTextWithCommaOrPointAndRefusesNullAndNonNumbers) {
    const std::pair<DbValue, double> cases[] = {
        {DbValue(std::string("12,5")), 12.5}, {DbValue(std::string("12.5")), 12.5}, {DbValue(std::string(" 3 ")), 3},
        {DbValue(std::string("1.234,56")), 1234.56}, {DbValue(std::string("-0,5")), -0.5}, {DbValue(std::int64_t{7}), 7},
        {DbValue(DbDate{2024, 3, 5}), 45356},  // the day serial since 30/12/1899
    };
    for (const auto& [value, number] : cases) EXPECT_DOUBLE_EQ(value.number(), number) << value.text();
    EXPECT_EQ(testing::errorText<DbError>([] { DbValue().number(); }), "Uso inválido de Null");
    for (const char* text : {"", "abc", "12abc", "inf", "nan", "0x1A", " "})
        EXPECT_THROW(DbValue(std::string(text)).number(), DbError) << text;
}

TEST(RecordsetTest, FieldsByNameWithoutCaseAndBofEofRules) {
    Recordset rs({"CodVenda", "Total"}, {{DbValue(std::string("1-01")), DbValue(5.5)},
                                         {DbValue(std::string("2-01")), DbValue()}});
    EXPECT_EQ(rs.recordCount(), 2u);
    EXPECT_FALSE(rs.bof());
    EXPECT_EQ(rs.field("codvenda").text(), "1-01");
    EXPECT_EQ(rs.field("TOTAL").text(), "5,5");
    EXPECT_TRUE(rs.hasColumn("total"));
    EXPECT_FALSE(rs.hasColumn("Totals"));
    EXPECT_THROW(rs.field("Nome"), DbError);

    rs.moveNext();
    EXPECT_EQ(rs.field("CODVENDA").text(), "2-01");
    rs.moveNext();
    EXPECT_TRUE(rs.eof());
    // The emission routine's common exit recognises this error by "BOF" in its description.
    const std::string atEnd = testing::errorText<DbError>([&] { rs.field("codvenda"); });
    EXPECT_NE(atEnd.find("BOF"), std::string::npos) << atEnd;
    EXPECT_NE(atEnd.find("EOF"), std::string::npos);
    EXPECT_THROW(rs.moveNext(), DbError);
    rs.moveFirst();
    EXPECT_EQ(rs.field("codvenda").text(), "1-01");

    Recordset empty({"ID"}, {});
    EXPECT_TRUE(empty.bof());
    EXPECT_TRUE(empty.eof());
    EXPECT_THROW(empty.field("id"), DbError);
}

}  // namespace
}  // namespace quorvanti::database
