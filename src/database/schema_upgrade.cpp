#include "database/schema_upgrade.h"

#include "database/db_error.h"

namespace quorvanti::database {

namespace {

// The column usually exists already (every start after the first), so a failure is the normal case.
void executeIgnoringError(DbConnection& db, const std::string& sql) {
    try {
        db.execute(sql);
    } catch (const DbError&) {
    }
}

}  // namespace

void upgradeNfceGerada(DbConnection& db, const std::string& dbKindSetting) {
    if (dbKindSetting == "access") {
        executeIgnoringError(db, "alter Table nfce_gerada add column emailenviou varchar(20)");
        executeIgnoringError(db, "alter Table nfce_gerada add column clienteEmail varchar(100)");
        executeIgnoringError(db, "alter Table nfce_gerada add column cpf_cli varchar(30)");
    } else {
        executeIgnoringError(db, "alter Table nfce_gerada add emailenviou varchar(20)");
        executeIgnoringError(db, "alter Table nfce_gerada add clienteEmail varchar(100)");
        executeIgnoringError(db, "alter Table nfce_gerada add cpf_cli varchar(30)");
    }
}

void upgradeConfig(DbConnection& db, const std::string& dbKindSetting) {
    if (dbKindSetting == "mysql") {
        executeIgnoringError(db, "ALTER TABLE Config ADD column Optante varchar(20)");
    } else {
        executeIgnoringError(db, "ALTER TABLE Config ADD Optante varchar(20)");
    }
}

}  // namespace quorvanti::database
