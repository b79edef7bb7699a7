// Fresh point-of-sale databases for tests, built from the schema files in db/, so that a suite can run
// the same test body on SQLite and on the private MariaDB server that scripts/mariadb-test-server.sh
// starts (its socket in QUORVANTI_TEST_MYSQL_SOCKET). Typical use:
//
//   class QueueTest : public ::testing::TestWithParam<DbKind> {};
//   TEST_P(QueueTest, ...) { QUORVANTI_SKIP_WITHOUT_MARIADB(GetParam());
//                            ScratchDatabase db(GetParam()); auto connection = db.connect(); ... }
//   INSTANTIATE_TEST_SUITE_P(Backends, QueueTest, bothBackends(), backendName);
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "database/db_connection.h"
#include "database/mariadb_connection.h"
#include "support/environment_needs.h"
#include "support/temp_dir.h"

namespace quorvanti::testing {

// Creates folder/fileName (which must not exist) from db/sqlite-schema.sql; answers its path.
std::string createSqliteDatabase(const std::string& folder, const std::string& fileName = "base.db");

// The private server's socket (QUORVANTI_TEST_MYSQL_SOCKET); empty when it is not set.
std::string mariaDbTestSocket();
// Why a MariaDB test was skipped.
extern const char* const kMariaDbSkipMessage;
// Parameters that reach the private server as the test user, without a database.
database::MariaDbParameters mariaDbServerParameters();

// One fresh database of either kind for one test, removed when the test ends.
class ScratchDatabase {
public:
    explicit ScratchDatabase(database::DbKind kind);
    ~ScratchDatabase();
    ScratchDatabase(const ScratchDatabase&) = delete;
    ScratchDatabase& operator=(const ScratchDatabase&) = delete;

    database::DbKind kind() const { return kind_; }
    // A new connection to the database.
    std::unique_ptr<database::DbConnection> connect() const;
    // The "TipoConexao_BD" setting that selects this kind: "mysql", or "access" for the local file.
    std::string kindSetting() const;
    // The SQLite file (SQLite only) and the server parameters (MariaDB only).
    const std::string& sqlitePath() const { return sqlitePath_; }
    const database::MariaDbParameters& mariaDb() const { return mariaDb_; }

private:
    database::DbKind kind_;
    std::unique_ptr<TempDir> folder_;
    std::string sqlitePath_;
    database::MariaDbParameters mariaDb_;
};

// Parameter values and names for suites run on both backends.
inline auto bothBackends() { return ::testing::Values(database::DbKind::Sqlite, database::DbKind::MariaDb); }
std::string backendName(const ::testing::TestParamInfo<database::DbKind>& info);

}  // namespace quorvanti::testing

namespace quorvanti::database {
// Test names and failure messages show "Sqlite" or "MariaDb" for a DbKind parameter.
void PrintTo(DbKind kind, std::ostream* out);
}  // namespace quorvanti::database

// Skips the current test when `kind` is MariaDB and no test server is configured (fails it in CI). Use it
// at the start of a test body or of SetUp.
#define QUORVANTI_SKIP_WITHOUT_MARIADB(kind)                                                      \
    QUORVANTI_NEEDS((kind) != ::quorvanti::database::DbKind::MariaDb ||                           \
                        !::quorvanti::testing::mariaDbTestSocket().empty(),                       \
                    ::quorvanti::testing::kMariaDbSkipMessage)
