// The embedded default: the local database file at "Caminho", opened with SQLite. `isnull(x)` is
// registered as a function because the statements use it as Access and MySQL know it; since SQLite
// reads the bare word ISNULL as its postfix operator, a call "isnull(" is sent with the name quoted.
// The point-of-sale program writes the same file, so a statement waits up to 5 s for a lock.
#pragma once

#include <memory>
#include <string>

#include "database/db_connection.h"

struct sqlite3;

namespace quorvanti::database {

// Values read: INTEGER -> int64, REAL -> double, TEXT and BLOB -> text, NULL -> null; a column declared
// DATE whose text is "yyyy-mm-dd" -> DbDate, one declared DATETIME or TIMESTAMP -> DbDateTime.
// Each call runs one statement (a trailing ";" is allowed), as on the server.
class SqliteConnection final : public DbConnection {
public:
    // Opens an existing file (read-write); never creates one. Raises DbError naming the path when the
    // file is missing or not a database. A statement waits up to `lockWait` for a lock another program
    // holds on the file before it fails.
    explicit SqliteConnection(const std::string& filePath,
                              std::chrono::milliseconds lockWait = kStatementWaitLimit);
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
