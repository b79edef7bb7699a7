// The embedded default: the local database file at "Caminho", opened with SQLite. `isnull(x)` is
// registered as a function because the statements use it as Access and MySQL know it.
#pragma once

#include <memory>
#include <string>

#include "database/db_connection.h"

struct sqlite3;

namespace quorvanti::database {

class SqliteConnection final : public DbConnection {
public:
    // Opens an existing file (read-write). Raises DbError when the file is missing or not a database.
    explicit SqliteConnection(const std::string& filePath);
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    DbKind kind() const override { return DbKind::Sqlite; }
    void execute(const std::string& sql) override;
    Recordset open(const std::string& sql) override;

private:
    sqlite3* db_ = nullptr;
};

}  // namespace quorvanti::database
