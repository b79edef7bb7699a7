// What the monitor reads from a row and writes into a statement (value texts and numbers, the recordset's
// rules, each backend's date literals), and each connection on its own: the local file's SQLite, the
// MariaDB server (its failures never show the password), and the failing stand-in the upgrades are
// checked through.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "database/date_literal.h"
#include "database/db_error.h"
#include "database/db_value.h"
#include "database/failing_connection.h"
#include "database/mariadb_connection.h"
#include "database/recordset.h"
#include "database/schema_upgrade.h"
#include "database/sqlite_connection.h"
#include "support/error_text.h"
#include "support/temp_dir.h"
#include "support/test_databases.h"

namespace quorvanti::database {
namespace {

using testing::TempDir;

// Decimals read with the Brazilian comma in their shortest form; other kinds joined to empty text.
TEST(DbValueTest, TextIsWhatTheProgramReadsAndNumberReadsCommaOrPointButNotNullOrNonNumbers) {
    const std::pair<DbValue, const char*> texts[] = {
        {DbValue(-3.25), "-3,25"}, {DbValue(10.0), "10"},
        {DbValue(1234567.89), "1234567,89"},  // no thousands separator
        {DbValue(0.1 + 0.2), "0,3"},          // a sum of stored decimals, without binary noise
        {DbValue(-0.0), "0"}, {DbValue(1e20), "1E+20"}, {DbValue(), ""}, {DbValue(std::int64_t{-42}), "-42"},
        // (A text as stored and a date as dd/mm/yyyy: BackendTest's client name and sale date.)
        {DbValue(DbDateTime{{2024, 3, 5}, 9, 7, 3}), "05/03/2024 09:07:03"},
    };
    for (const auto& [value, text] : texts) EXPECT_EQ(value.text(), text);
    const std::pair<DbValue, double> numbers[] = {
        {DbValue(std::string("12,5")), 12.5}, {DbValue(std::string("12.5")), 12.5}, {DbValue(std::string(" 3 ")), 3},
        {DbValue(std::string("1.234,56")), 1234.56}, {DbValue(std::string("-0,5")), -0.5}, {DbValue(std::int64_t{7}), 7},
        {DbValue(DbDate{2024, 3, 5}), 45356},  // the day serial since 30/12/1899
    };
    for (const auto& [value, number] : numbers) EXPECT_DOUBLE_EQ(value.number(), number) << value.text();
    EXPECT_EQ(testing::errorText<DbError>([] { DbValue().number(); }), "Uso inválido de Null");
    for (const char* text : {"", "12abc", "inf", "0x1A"})
        EXPECT_THROW(DbValue(std::string(text)).number(), DbError) << text;
}

// (Reads past the end, whose text the emission routine's common exit looks for, are StartUpTest's empty
// DatEmit; empty results, every run's empty queue; moving back to the first row, every journal's reading.)
TEST(RecordsetTest, FieldsByNameWithoutCaseAndMovesWithinTheRows) {
    Recordset rs({"CodVenda", "Total"}, {{DbValue(std::string("1-01")), DbValue(5.5)},
                                         {DbValue(std::string("2-01")), DbValue()}});
    EXPECT_EQ(rs.field("codvenda").text() + "|" + rs.field("TOTAL").text(), "1-01|5,5");
    EXPECT_THROW(rs.field("Nome"), DbError);

    rs.moveNext();
    rs.moveNext();
    EXPECT_TRUE(rs.eof());
    EXPECT_THROW(rs.moveNext(), DbError);
}

TEST(DateLiteralTest, EachKindWritesItsOwnLiteralOfARealDateAndStoresInItsOwnForm) {
    const struct {
        const char *date, *quote, *format, *literal;
    } literals[] = {
        {"05/03/2024", "'", "yyyy-mm-dd", "'2024-03-05'"}, {"2024-03-05", "'", "yyyy-mm-dd", "'2024-03-05'"},
        {"5/3/2024", "#", "mm/dd/yyyy", "#03/05/2024#"},  // the Access form, written from the same tokens
        {"05/03/2024 13:45:00", "'", "yyyy-mm-dd", "'2024-03-05'"}, {"29/02/2024", "'", "yyyy-mm-dd", "'2024-02-29'"},
    };
    for (const auto& l : literals) EXPECT_EQ(dateLiteral(l.date, l.quote, l.format), l.literal) << l.date;
    // (Each backend's own literal is run against its database in backends_test.)
    for (const char* text : {"", "abc", "32/01/2024", "29/02/2023", "05/13/2024", "2024/03/05", "05-03-2024",
                             "05/03/24", "2024-3-5"})
        EXPECT_THROW(dateLiteral(text, "'", "yyyy-mm-dd"), std::invalid_argument) << text;

    // Each backend's form of a day, as the shop's own program stores it; a time alone; refusals.
    const struct {
        DbKind kind;
        const char *date, *time, *stored;  // nullptr: refused
    } stored[] = {
        {DbKind::MariaDb, "05/03/2024", "", "2024-03-05"}, {DbKind::Sqlite, "2024-03-05", "", "05/03/2024"},
        {DbKind::Sqlite, "", "9:05:07", "09:05:07"},       {DbKind::MariaDb, "", "", ""},
        {DbKind::MariaDb, "05/03/2024", "13:45:00", nullptr}, {DbKind::MariaDb, "", "25:00:00", nullptr},
        {DbKind::Sqlite, "ontem", "", nullptr},
    };
    for (const auto& s : stored) {
        if (s.stored) EXPECT_EQ(dateForStoring(s.kind, s.date, s.time), s.stored) << s.date << s.time;
        else EXPECT_THROW(dateForStoring(s.kind, s.date, s.time), std::invalid_argument) << s.date << s.time;
    }
}

class SqliteFileTest : public ::testing::Test {
protected:
    TempDir dir_;
    SqliteConnection db_{testing::createSqliteDatabase(dir_.path())};
};

TEST_F(SqliteFileTest, AMissingFileOrOneThatIsNoDatabaseIsAnErrorNamingIt) {
    const std::string missing = dir_.file("sem-base.db"), settings = dir_.file("ConfigINI.ini");
    testing::writeFile(settings, "[Geral]\r\nCaminho=C:\\base.mdb\r\n");
    for (const std::string& path : {missing, settings}) {
        const std::string error = testing::errorText<DbError>([&] { SqliteConnection connection(path); });
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
}

// SQLite itself reads the word ISNULL as a postfix operator, which makes "isnull(x)" a syntax error.
TEST_F(SqliteFileTest, IsNullWorksAsAFunctionLiteralsStayUnchangedAndOneStatementRunsPerCall) {
    Recordset rs = db_.open("select isnull(NULL) as a, isnull(0) as b, ISNULL ('') as c, 'isnull(1)' as t, "
                            "\"isnull(\" as \"isnull(x)\" from (select 1 as \"isnull(\")");
    std::string read;
    for (const char* column : {"a", "b", "c", "t", "isnull(x)"}) read += rs.field(column).text() + "|";
    EXPECT_EQ(read, "1|0|0|isnull(1)|1|");
    EXPECT_EQ(db_.open("select 1 as x where NULL isnull").recordCount(), 1u);

    db_.execute("insert into config (NumeroNFCE) values (1);");
    EXPECT_THROW(db_.execute("update config set NumeroNFCE = 2; delete from config"), DbError);
    EXPECT_THROW(db_.open("select * from config; delete from config"), DbError);
    EXPECT_EQ(db_.open("select * from config").field("numeronfce").text(), "1");
}

// A double and a text that looks like a number keep their kind. (A date column read as a date: the sale's
// Data in BackendTest.SaleTotalsAndItemsMatchTheDateLiteral.)
TEST_F(SqliteFileTest, ValuesKeepTheirKind) {
    db_.execute("create table t (r double, s varchar(10))");
    db_.execute("insert into t values (2.5, '0042')");
    Recordset rs = db_.open("select * from t");
    EXPECT_EQ(rs.field("r").text() + "|" + rs.field("s").text(), "2,5|0042");  // text stays text
}

// A column an upgrade cannot add (it is there already, on a shop's older file) does not stop the start.
TEST_F(SqliteFileTest, UpgradesSurviveEveryStatementFailing) {
    FailingConnection db(db_);
    db.failOnText("alter");
    for (const char* kind : {"access", "mysql"}) {
        EXPECT_NO_THROW(upgradeNfceGerada(db, kind));
        EXPECT_NO_THROW(upgradeConfig(db, kind));
    }
    EXPECT_FALSE(db.statements().empty());
    EXPECT_FALSE(db_.open("select * from nfce_gerada").hasColumn("emailenviou"));
}

TEST(MariaDbConnectionTest, AnUnreachableServerOrARefusedLoginIsAnErrorWithoutThePassword) {
    TempDir dir;
    MariaDbParameters unreachable;
    unreachable.socket = dir.file("nenhum.sock");
    unreachable.user = "caixa";
    unreachable.password = "S3nh@-Secreta";
    std::vector<std::pair<MariaDbParameters, std::string>> cases = {{unreachable, unreachable.socket}};
    if (!testing::mariaDbTestSocket().empty()) {
        MariaDbParameters refused = testing::mariaDbServerParameters();
        refused.password = "quorvanti-wrong";
        cases.emplace_back(refused, "Access denied");
    }
    for (const auto& [parameters, named] : cases) {
        const std::string message = testing::errorText<DbError>([&] { MariaDbConnection connection(parameters); });
        EXPECT_NE(message.find(named), std::string::npos) << message;
        EXPECT_EQ(message.find(parameters.password), std::string::npos) << message;
    }
}

// (The shop's kinds, date, decimal, double and text, are read by BackendTest and the emission routine on
// this server.)
TEST(MariaDbConnectionTest, TheSessionSpeaksUtf8mb4AndADroppedConnectionIsAPassingFault) {
    QUORVANTI_SKIP_WITHOUT_MARIADB(DbKind::MariaDb);
    testing::ScratchDatabase scratch(DbKind::MariaDb);
    MariaDbConnection db(scratch.mariaDb());
    db.execute("INSERT INTO Clientes (Numero, Nome) VALUES (1, 'Conceição 🛒')");
    const Recordset name = db.open("SELECT Nome, CHAR_LENGTH(Nome) AS n FROM Clientes");
    EXPECT_EQ(name.field("Nome").text() + "|" + name.field("n").text(), "Conceição 🛒|11");

    // A refused statement is the statement's fault; a connection the server dropped passes (start-up
    // then ends as for a server that did not answer, and is started again).
    const auto passes = [&](const std::string& sql) {
        try {
            db.open(sql);
        } catch (const DbError& error) {
            return error.passing();
        }
        ADD_FAILURE() << sql << " raised nothing";
        return false;
    };
    EXPECT_FALSE(passes("select nada from config"));
    MariaDbConnection(scratch.mariaDb()).execute("KILL " + db.open("SELECT CONNECTION_ID() AS id").field("id").text());
    EXPECT_TRUE(passes("select 1"));
}

}  // namespace
}  // namespace quorvanti::database
