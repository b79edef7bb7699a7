// The schema upgrades the monitor applies at start-up. The two of the point-of-sale tables ignore every
// statement's DbError: the column usually exists already, and running them again changes nothing. The
// monitor's own tables are different: without them no sale can be emitted safely, so their failure
// raises.
#pragma once

#include <string>

#include "database/db_connection.h"

namespace quorvanti::database {

// Adds the three e-mail and CPF columns to nfce_gerada. `dbKindSetting` is the raw "TipoConexao_BD"
// value: only "access" takes the statements with the word "column".
void upgradeNfceGerada(DbConnection& db, const std::string& dbKindSetting);

// Adds config.Optante; the statement takes the word "column" only when `dbKindSetting` is "mysql".
void upgradeConfig(DbConnection& db, const std::string& dbKindSetting);

// Creates, when missing, the monitor's own tables in the shared database: the attempt journal
// (quorvanti_attempts: every document the monitor built, its key and number, committed before it is
// sent, and what became of it) and the sale claims (quorvanti_claims: which monitor is working on a
// sale, until when), with the indexes their look-ups use; and an index on nfce_gerada.cod_venda, by
// which a sale already recorded is found. Raises DbError when a table cannot be created.
void upgradeJournal(DbConnection& db);

}  // namespace quorvanti::database
