#include "database/failing_connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "database/schema_upgrade.h"
#include "database/sqlite_connection.h"
#include "support/temp_dir.h"
#include "support/test_databases.h"

namespace quorvanti::database {
namespace {

// (The failing connection itself, a stand-in of the tests, is checked by the suites that make statements
// fail through it and read what it recorded.)
class FailingConnectionTest : public ::testing::Test {
protected:
    testing::TempDir dir_;
    SqliteConnection real_{testing::createSqliteDatabase(dir_.path())};
    FailingConnection db_{real_};
};

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
