// A group of statements that take effect together or not at all: BEGIN IMMEDIATE on SQLite (the write
// lock is taken at once, waiting for the point-of-sale program as any statement does), START TRANSACTION
// on MariaDB. Leaving the scope without commit() rolls back, so an exception between the statements
// leaves the database as it was before begin.
#pragma once

#include "database/db_connection.h"

namespace quorvanti::database {

class Transaction {
public:
    explicit Transaction(DbConnection& db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Makes every statement since begin permanent; raises DbError (after rolling back) when it cannot.
    void commit();

private:
    DbConnection& db_;
    bool open_ = true;
};

}  // namespace quorvanti::database
