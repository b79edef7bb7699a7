#include "database/transaction.h"

namespace quorvanti::database {

Transaction::Transaction(DbConnection& db) : db_(db) {
    db_.execute(db_.kind() == DbKind::Sqlite ? "BEGIN IMMEDIATE" : "START TRANSACTION");
}

Transaction::~Transaction() {
    if (!open_) return;
    // Reached while an exception unwinds (or a caller returned early): the failure that brought us here
    // is the one reported. A rollback that fails as well leaves nothing committed, as the server drops
    // an unfinished transaction with its connection.
    try {
        db_.execute("ROLLBACK");
    } catch (...) {
    }
}

void Transaction::commit() {
    open_ = false;
    try {
        db_.execute("COMMIT");
    } catch (...) {
        try {
            db_.execute("ROLLBACK");
        } catch (...) {
        }
        throw;
    }
}

}  // namespace quorvanti::database
