// The one database connection of the program, shared by every procedure for the life of the process.
// Statements are plain SQL text as the procedures build them; values inside them go through
// `sqlEscape` (sql_escape.h). Nothing reconnects: a lost connection makes later statements fail.
// Used only from the monitor thread.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "database/recordset.h"

namespace quorvanti::database {

// How long a statement may wait for the server's answer or for a lock the point-of-sale program holds,
// on both backends, before it fails (and the sale it served stays queued).
inline constexpr std::chrono::seconds kStatementWaitLimit{400};

enum class DbKind {
    MariaDb,  // settings "TipoConexao_BD" = "mysql"
    Sqlite,   // every other value: the local database file at "Caminho"
};

class DbConnection {
public:
    virtual ~DbConnection() = default;

    virtual DbKind kind() const = 0;
    // Runs one statement (a trailing ";" is allowed) that returns no rows. Raises DbError on failure.
    virtual void execute(const std::string& sql) = 0;
    // Runs one query and answers its static snapshot, every row read now. Raises DbError on failure.
    virtual Recordset open(const std::string& sql) = 0;
};

}  // namespace quorvanti::database
