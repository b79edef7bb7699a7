#include "database/failing_connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "database/db_error.h"
#include "database/schema_upgrade.h"
#include "database/sqlite_connection.h"
#include "support/error_text.h"
#include "support/temp_dir.h"
#include "support/test_databases.h"

namespace quorvanti::database {
namespace {

class FailingConnectionTest : public ::testing::Test {
protected:
    std::size_t configRows() { return real_.open("select * from config").recordCount(); }

    testing::TempDir dir_;
    SqliteConnection real_{testing::createSqliteDatabase(dir_.path())};
    FailingConnection db_{real_};
};

TEST_F(FailingConnectionTest, FailingStatementsDoNotReachTheDatabase) {
    db_.failOnStatement(2, "Lost connection to server during query");
    db_.execute("insert into config (NumeroNFCE) values (1)");
    EXPECT_EQ(testing::errorText<DbError>([&] { db_.execute("insert into config (NumeroNFCE) values (2)"); }),
              "Lost connection to server during query");
    EXPECT_EQ(db_.open("select * from config").recordCount(), 1u);
    EXPECT_EQ(db_.statements(),
              (std::vector<std::string>{"insert into config (NumeroNFCE) values (1)",
                                        "insert into config (NumeroNFCE) values (2)", "select * from config"}));
    EXPECT_EQ(db_.kind(), DbKind::Sqlite);

    // From a statement on, and on a text.
    db_.failOnText("TABNCEAENVIAR");
    EXPECT_THROW(db_.execute("delete from TabNCEAEnviar where Codvenda = '1-01'"), DbError);
    EXPECT_NO_THROW(db_.open("select * from config"));

    db_.failFromStatement(7);
    db_.execute("insert into config (NumeroNFCE) values (1)");
    EXPECT_THROW(db_.open("select * from config"), DbError);
    EXPECT_THROW(db_.execute("insert into config (NumeroNFCE) values (2)"), DbError);
    EXPECT_EQ(configRows(), 2u);

    db_.clearFailures();
    db_.execute("insert into config (NumeroNFCE) values (3)");
    EXPECT_EQ(configRows(), 3u);
    EXPECT_EQ(db_.countContaining("INSERT INTO CONFIG"), 5u);
}

// The upgrades send exactly their statements and survive every one of them failing.
TEST_F(FailingConnectionTest, UpgradeStatementsFollowTheKindSetting) {
    db_.failOnText("alter");
    upgradeNfceGerada(db_, "access");
    upgradeConfig(db_, "access");
    upgradeNfceGerada(db_, "mysql");
    upgradeConfig(db_, "mysql");
    upgradeNfceGerada(db_, "MySQL");
    EXPECT_EQ(db_.statements(), (std::vector<std::string>{
                                    "alter Table nfce_gerada add column emailenviou varchar(20)",
                                    "alter Table nfce_gerada add column clienteEmail varchar(100)",
                                    "alter Table nfce_gerada add column cpf_cli varchar(30)",
                                    "ALTER TABLE Config ADD Optante varchar(20)",
                                    "alter Table nfce_gerada add emailenviou varchar(20)",
                                    "alter Table nfce_gerada add clienteEmail varchar(100)",
                                    "alter Table nfce_gerada add cpf_cli varchar(30)",
                                    "ALTER TABLE Config ADD column Optante varchar(20)",
                                    "alter Table nfce_gerada add emailenviou varchar(20)",
                                    "alter Table nfce_gerada add clienteEmail varchar(100)",
                                    "alter Table nfce_gerada add cpf_cli varchar(30)",
                                }));
    EXPECT_FALSE(real_.open("select * from nfce_gerada").hasColumn("emailenviou"));
}

}  // namespace
}  // namespace quorvanti::database
