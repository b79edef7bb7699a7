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

void upgradeJournal(DbConnection& db) {
    const bool maria = db.kind() == DbKind::MariaDb;
    const std::string id = maria ? "id BIGINT NOT NULL AUTO_INCREMENT PRIMARY KEY" : "id INTEGER PRIMARY KEY AUTOINCREMENT";
    const std::string engine = maria ? " ENGINE=InnoDB DEFAULT CHARSET=utf8mb4" : "";
    db.execute("CREATE TABLE IF NOT EXISTS quorvanti_attempts (" + id +
               ", cod_venda VARCHAR(30) NOT NULL, data_venda VARCHAR(10) NOT NULL,"
               " terminal VARCHAR(10) NOT NULL DEFAULT '', monitor VARCHAR(255) NOT NULL DEFAULT '',"
               " amb VARCHAR(1) NOT NULL DEFAULT '', serie INT NOT NULL DEFAULT 0, numero BIGINT NOT NULL,"
               " chave VARCHAR(44) NOT NULL DEFAULT '', tp_emis VARCHAR(1) NOT NULL DEFAULT '',"
               " estado VARCHAR(20) NOT NULL, motivo VARCHAR(500) NOT NULL DEFAULT '',"
               " criado VARCHAR(19) NOT NULL, atualizado VARCHAR(19) NOT NULL)" + engine);
    db.execute("CREATE TABLE IF NOT EXISTS quorvanti_claims (cod_venda VARCHAR(30) NOT NULL,"
               " data_venda VARCHAR(10) NOT NULL, monitor VARCHAR(255) NOT NULL, lease_until BIGINT NOT NULL,"
               " PRIMARY KEY (cod_venda, data_venda))" + engine);
    // Fiscal events (cancellations) and number voidings: each request is journalled before it is sent,
    // so that an answer lost or a process killed is resolved by asking the authority, not by guessing.
    db.execute("CREATE TABLE IF NOT EXISTS quorvanti_events (" + id +
               ", chave VARCHAR(44) NOT NULL, tp_evento INT NOT NULL, n_seq INT NOT NULL DEFAULT 1,"
               " chave_ref VARCHAR(44) NOT NULL DEFAULT '', amb VARCHAR(1) NOT NULL DEFAULT '',"
               " justificativa VARCHAR(255) NOT NULL DEFAULT '', estado VARCHAR(20) NOT NULL,"
               " motivo VARCHAR(500) NOT NULL DEFAULT '', protocolo VARCHAR(20) NOT NULL DEFAULT '',"
               " monitor VARCHAR(255) NOT NULL DEFAULT '', criado VARCHAR(19) NOT NULL,"
               " atualizado VARCHAR(19) NOT NULL)" + engine);
    db.execute("CREATE TABLE IF NOT EXISTS quorvanti_voids (" + id +
               ", amb VARCHAR(1) NOT NULL, serie INT NOT NULL, numero_ini BIGINT NOT NULL,"
               " numero_fim BIGINT NOT NULL, ano INT NOT NULL, justificativa VARCHAR(255) NOT NULL DEFAULT '',"
               " estado VARCHAR(20) NOT NULL, motivo VARCHAR(500) NOT NULL DEFAULT '',"
               " protocolo VARCHAR(20) NOT NULL DEFAULT '', criado VARCHAR(19) NOT NULL,"
               " atualizado VARCHAR(19) NOT NULL)" + engine);
    // MySQL knows no "IF NOT EXISTS" for indexes: there an existing index is the usual failure.
    const std::string ifMissing = maria ? "" : "IF NOT EXISTS ";
    const char* indexes[] = {
        "quorvanti_attempts_sale ON quorvanti_attempts (cod_venda, data_venda)",
        "quorvanti_attempts_key ON quorvanti_attempts (chave)",
        "quorvanti_attempts_number ON quorvanti_attempts (amb, serie, numero)",
        "quorvanti_attempts_state ON quorvanti_attempts (estado)",
        "quorvanti_events_key ON quorvanti_events (chave, tp_evento)",
        "quorvanti_voids_number ON quorvanti_voids (amb, serie, numero_ini)",
    };
    for (const char* index : indexes) {
        if (maria) executeIgnoringError(db, std::string("CREATE INDEX ") + index);
        else db.execute("CREATE INDEX " + ifMissing + index);
    }
    // The point-of-sale table's index only speeds the look-up up: the monitor works without it.
    executeIgnoringError(db, "CREATE INDEX " + ifMissing + "quorvanti_nfce_gerada_cod_venda ON nfce_gerada (cod_venda)");
}

}  // namespace quorvanti::database
