// The two schema upgrades the monitor applies at start-up. Every statement's DbError is ignored: the
// column usually exists already, and running them again changes nothing.
#pragma once

#include <string>

#include "database/db_connection.h"

namespace quorvanti::database {

// Adds the three e-mail and CPF columns to nfce_gerada. `dbKindSetting` is the raw "TipoConexao_BD"
// value: only "access" takes the statements with the word "column".
void upgradeNfceGerada(DbConnection& db, const std::string& dbKindSetting);

// Adds config.Optante; the statement takes the word "column" only when `dbKindSetting` is "mysql".
void upgradeConfig(DbConnection& db, const std::string& dbKindSetting);

}  // namespace quorvanti::database
