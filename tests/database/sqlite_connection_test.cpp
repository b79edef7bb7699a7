#include "database/sqlite_connection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "database/db_error.h"
#include "support/error_text.h"
#include "support/temp_dir.h"
#include "support/test_databases.h"

namespace quorvanti::database {
namespace {

using testing::TempDir;

std::string errorOf(const std::string& path) {
    return testing::errorText<DbError>([&] { SqliteConnection connection(path); });
}

TEST(SqliteConnectionTest, AMissingFileOrOneThatIsNoDatabaseIsAnErrorNamingIt) {
    TempDir dir;
    const std::string missing = dir.file("sem-base.db");
    EXPECT_NE(errorOf(missing).find(missing), std::string::npos) << errorOf(missing);
    EXPECT_FALSE(std::filesystem::exists(missing));
    const std::string settings = dir.file("ConfigINI.ini");
    testing::writeFile(settings, "[Geral]\r\nCaminho=C:\\base.mdb\r\n");
    EXPECT_NE(errorOf(settings).find(settings), std::string::npos) << errorOf(settings);
}

class SqliteFileTest : public ::testing::Test {
protected:
    TempDir dir_;
    SqliteConnection db_{testing::createSqliteDatabase(dir_.path())};
};

// SQLite itself reads the word ISNULL as a postfix operator, which makes "isnull(x)" a syntax error.
TEST_F(SqliteFileTest, IsNullWorksAsAFunctionLiteralsStayUnchangedAndOneStatementRunsPerCall) {
    Recordset rs = db_.open("select isnull(NULL) as a, isnull(0) as b, ISNULL ('') as c, 'isnull(1)' as t, "
                            "\"isnull(\" as \"isnull(x)\" from (select 1 as \"isnull(\")");
    EXPECT_EQ(rs.field("a").text(), "1");
    EXPECT_EQ(rs.field("b").text(), "0");
    EXPECT_EQ(rs.field("c").text(), "0");
    EXPECT_EQ(rs.field("t").text(), "isnull(1)");
    EXPECT_EQ(rs.field("isnull(x)").text(), "1");
    EXPECT_EQ(db_.open("select 1 as x where NULL isnull").recordCount(), 1u);

    // Only one statement runs per call.
    db_.execute("insert into config (NumeroNFCE) values (1);");
    EXPECT_THROW(db_.execute("update config set NumeroNFCE = 2; delete from config"), DbError);
    EXPECT_THROW(db_.open("select * from config; delete from config"), DbError);
    EXPECT_EQ(db_.open("select * from config").field("numeronfce").text(), "1");
}

TEST_F(SqliteFileTest, ValuesKeepTheirKind) {
    db_.execute("create table t (d date, dt datetime, n integer, r double, s varchar(10), b blob)");
    db_.execute("insert into t values ('2024-03-05', '2024-03-05 10:11:12', 3, 2.5, '0042', x'4100')");
    db_.execute("insert into t values ('05/03/2024', '2024-03-05T10:11:12.345', NULL, 10, 'x', NULL)");
    db_.execute("insert into t values ('2024-02-30', 'ontem', 1, 1, 'y', NULL)");
    Recordset rs = db_.open("select * from t");
    EXPECT_EQ(std::get<DbDate>(rs.field("d").raw()), (DbDate{2024, 3, 5}));
    EXPECT_EQ(std::get<DbDateTime>(rs.field("dt").raw()), (DbDateTime{{2024, 3, 5}, 10, 11, 12}));
    EXPECT_EQ(std::get<std::int64_t>(rs.field("n").raw()), 3);
    EXPECT_EQ(rs.field("r").text(), "2,5");
    EXPECT_EQ(rs.field("s").text(), "0042");  // text stays text
    EXPECT_EQ(rs.field("b").text(), std::string("A\0", 2));
    rs.moveNext();
    EXPECT_EQ(rs.field("d").text(), "05/03/2024");  // not ISO: kept as the text stored
    EXPECT_EQ(rs.field("dt").text(), "05/03/2024 10:11:12");
    EXPECT_EQ(rs.field("r").text(), "10");
    rs.moveNext();
    EXPECT_EQ(rs.field("d").text(), "2024-02-30");  // no such day
    EXPECT_EQ(rs.field("dt").text(), "ontem");
}

}  // namespace
}  // namespace quorvanti::database
