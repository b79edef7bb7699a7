#include "database/mariadb_connection.h"

#include <gtest/gtest.h>

#include <string>

#include "database/db_error.h"
#include "support/error_text.h"
#include "support/temp_dir.h"
#include "support/test_databases.h"

namespace quorvanti::database {
namespace {

std::string connectionError(const MariaDbParameters& parameters) {
    return testing::errorText<DbError>([&] { MariaDbConnection connection(parameters); });
}

TEST(MariaDbConnectionTest, UnreachableServerIsAnErrorWithoutThePassword) {
    testing::TempDir dir;
    MariaDbParameters parameters;
    parameters.socket = dir.file("nenhum.sock");
    parameters.user = "caixa";
    parameters.password = "S3nh@-Secreta";
    parameters.database = "loja";
    const std::string message = connectionError(parameters);
    ASSERT_FALSE(message.empty());
    EXPECT_NE(message.find(parameters.socket), std::string::npos) << message;
    EXPECT_EQ(message.find(parameters.password), std::string::npos) << message;
}

TEST(MariaDbConnectionTest, RefusedLoginIsAnErrorWithTheServersTextButNotThePassword) {
    QUORVANTI_SKIP_WITHOUT_MARIADB(DbKind::MariaDb);
    MariaDbParameters parameters = testing::mariaDbServerParameters();
    parameters.password = "quorvanti-wrong";
    const std::string message = connectionError(parameters);
    EXPECT_NE(message.find("Access denied"), std::string::npos) << message;
    EXPECT_EQ(message.find("quorvanti-wrong"), std::string::npos) << message;
}

TEST(MariaDbConnectionTest, ValuesKeepTheirKindAndTheSessionSpeaksUtf8mb4) {
    QUORVANTI_SKIP_WITHOUT_MARIADB(DbKind::MariaDb);
    testing::ScratchDatabase scratch(DbKind::MariaDb);
    MariaDbConnection db(scratch.mariaDb());
    db.execute("create table t (d date, dt datetime, ts timestamp NULL, n bigint unsigned, m decimal(15,4), "
               "f float, s varchar(10), b blob, tm time)");
    db.execute("insert into t values ('2024-03-05', '2024-03-05 10:11:12.5', NULL, 18446744073709551615, "
               "12.5, 0.5, '0042', x'4100', '10:11:12')");
    Recordset rs = db.open("select * from t");
    EXPECT_EQ(std::get<DbDate>(rs.field("d").raw()), (DbDate{2024, 3, 5}));
    EXPECT_EQ(std::get<DbDateTime>(rs.field("dt").raw()), (DbDateTime{{2024, 3, 5}, 10, 11, 12}));
    EXPECT_TRUE(rs.field("ts").isNull());
    EXPECT_DOUBLE_EQ(rs.field("n").number(), 18446744073709551615.0);
    EXPECT_EQ(rs.field("m").text(), "12,5");
    EXPECT_EQ(rs.field("f").text(), "0,5");
    EXPECT_EQ(rs.field("s").text(), "0042");
    EXPECT_EQ(rs.field("b").text(), std::string("A\0", 2));
    EXPECT_EQ(rs.field("tm").text(), "10:11:12");

    // The session speaks utf8mb4.
    db.execute("INSERT INTO Clientes (Numero, Nome) VALUES (1, 'Conceição 🛒')");
    EXPECT_EQ(db.open("SELECT Nome, CHAR_LENGTH(Nome) AS n FROM Clientes").field("Nome").text(), "Conceição 🛒");
    EXPECT_EQ(db.open("SELECT CHAR_LENGTH(Nome) AS n FROM Clientes").field("n").text(), "11");
}

}  // namespace
}  // namespace quorvanti::database
