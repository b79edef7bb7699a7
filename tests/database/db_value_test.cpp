#include "database/db_value.h"

#include <gtest/gtest.h>

#include "database/db_error.h"
#include "database/recordset.h"

namespace quorvanti::database {
namespace {

TEST(DbValueTest, DecimalsReadWithBrazilianCommaAndShortestForm) {
    EXPECT_EQ(DbValue(12.5).text(), "12,5");
    EXPECT_EQ(DbValue(10.0).text(), "10");
    EXPECT_EQ(DbValue(0.1).text(), "0,1");
    EXPECT_EQ(DbValue(-3.25).text(), "-3,25");
    EXPECT_EQ(DbValue(1234567.89).text(), "1234567,89");  // no thousands separator
    // A sum of stored decimals reads as the operator expects, not with binary noise.
    EXPECT_EQ(DbValue(0.1 + 0.2).text(), "0,3");
    EXPECT_EQ(DbValue(-0.0).text(), "0");
    EXPECT_EQ(DbValue(1e20).text(), "1E+20");
}

TEST(DbValueTest, OtherKindsJoinedToEmptyText) {
    EXPECT_EQ(DbValue().text(), "");
    EXPECT_EQ(DbValue(std::int64_t{-42}).text(), "-42");
    EXPECT_EQ(DbValue(std::string("D'Ávila")).text(), "D'Ávila");
    EXPECT_EQ(DbValue(DbDate{2024, 3, 5}).text(), "05/03/2024");
    EXPECT_EQ(DbValue(DbDateTime{{2024, 3, 5}, 9, 7, 3}).text(), "05/03/2024 09:07:03");
}

TEST(DbValueTest, NumberReadsTextWithCommaOrPoint) {
    EXPECT_DOUBLE_EQ(DbValue(std::string("12,5")).number(), 12.5);
    EXPECT_DOUBLE_EQ(DbValue(std::string("12.5")).number(), 12.5);
    EXPECT_DOUBLE_EQ(DbValue(std::string(" 3 ")).number(), 3.0);
    EXPECT_DOUBLE_EQ(DbValue(std::string("1.234,56")).number(), 1234.56);
    EXPECT_DOUBLE_EQ(DbValue(std::string("-0,5")).number(), -0.5);
    EXPECT_DOUBLE_EQ(DbValue(std::int64_t{7}).number(), 7.0);
    EXPECT_DOUBLE_EQ(DbValue(DbDate{2024, 3, 5}).number(), 45356.0);  // the day serial since 30/12/1899
}

TEST(DbValueTest, NumberRefusesNullAndNonNumbers) {
    try {
        DbValue().number();
        FAIL() << "null read as a number";
    } catch (const DbError& error) {
        EXPECT_STREQ(error.what(), "Uso inválido de Null");
    }
    for (const char* text : {"", "abc", "12abc", "inf", "nan", "0x1A", " "}) {
        EXPECT_THROW(DbValue(std::string(text)).number(), DbError) << text;
    }
}

TEST(RecordsetTest, FieldsByNameWithoutCaseAndEofRules) {
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
    try {
        rs.field("codvenda");
        FAIL() << "field read at end of file";
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find("BOF"), std::string::npos);
        EXPECT_NE(std::string(error.what()).find("EOF"), std::string::npos);
    }
    EXPECT_THROW(rs.moveNext(), DbError);
    rs.moveFirst();
    EXPECT_EQ(rs.field("codvenda").text(), "1-01");
}

TEST(RecordsetTest, EmptySnapshotIsBofAndEof) {
    Recordset rs({"ID"}, {});
    EXPECT_TRUE(rs.bof());
    EXPECT_TRUE(rs.eof());
    EXPECT_THROW(rs.field("id"), DbError);
}

}  // namespace
}  // namespace quorvanti::database
