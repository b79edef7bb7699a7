// A MySQL or MariaDB server reached with MariaDB Connector/C. The server must compare table names
// without regard to case (lower_case_table_names=1): the statements spell one table in several cases.
// The session talks utf8mb4; results are read whole (mysql_store_result) as static snapshots. Values
// read: integer types -> int64, DECIMAL/FLOAT/DOUBLE -> double, DATE -> DbDate, DATETIME/TIMESTAMP ->
// DbDateTime (the zero date -> null), NULL -> null, everything else -> text.
#pragma once

#include <string>

#include "database/db_connection.h"

struct st_mysql;

namespace quorvanti::database {

struct MariaDbParameters {
    std::string host;      // "host" of section "Conexao"; "localhost" or a host name
    std::string database;  // "base"
    std::string user;      // "usuarioD"
    std::string password;  // "Senha": never logged or shown
    unsigned port = 0;     // 0: the default port
    std::string socket;    // a Unix socket path; when set it is used instead of host and port
    unsigned connectTimeoutSeconds = 60;
    unsigned commandTimeoutSeconds = static_cast<unsigned>(kStatementWaitLimit.count());
};

class MariaDbConnection final : public DbConnection {
public:
    // Connects with the connect timeout, and the command timeout for each read and write; raises
    // DbError with the server's text (never the password) on failure.
    explicit MariaDbConnection(const MariaDbParameters& parameters);
    ~MariaDbConnection() override;
    MariaDbConnection(const MariaDbConnection&) = delete;
    MariaDbConnection& operator=(const MariaDbConnection&) = delete;

    DbKind kind() const override { return DbKind::MariaDb; }
    void execute(const std::string& sql) override;
    Recordset open(const std::string& sql) override;

private:
    st_mysql* mysql_ = nullptr;
};

}  // namespace quorvanti::database
