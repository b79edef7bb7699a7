// Opening the one database connection at start-up, and the nfce_gerada upgrade that follows it.
#pragma once

#include "context/app_context.h"

namespace quorvanti::startup {

// "mysql" opens the MariaDB server of section "Conexao" (a "host" that starts with "/" names the
// server's Unix socket); a failure shows the connection message and ends the program. Every other kind
// opens the SQLite file at "Caminho" (relative to the program folder when not absolute); its failure
// reaches the caller as an error.
void openConnection(context::AppContext& ctx);

// The database settings openConnection uses: the kind ("TipoConexao_BD") with the date form its
// statements write, and for "mysql" the server of section "Conexao". The settings path must be known.
void readDatabaseSettings(context::AppContext& ctx);

}  // namespace quorvanti::startup
