// Opening the one database connection at start-up, and the nfce_gerada upgrade that follows it.
#pragma once

#include "context/app_context.h"

namespace quorvanti::startup {

// "mysql" opens the MariaDB server of section "Conexao" (a "host" that starts with "/" names the
// server's Unix socket). A server that does not answer is tried again, 5 s apart doubling up to a
// minute, for 10 minutes (waits on the context's clock), with a caption of Label1 at once and then at
// most once a minute ("Banco de dados inacessível (...): nova tentativa em N s"); then the connection
// message is shown and the program ends with status 13. A stop asked for meanwhile ends it with status 0.
// Every other kind opens the SQLite file at "Caminho" (relative to the program folder when not
// absolute); its failure reaches the caller as an error. An operator's command (`waitForServer` false)
// tries the server once, its failure reaching the caller as an error: the operator is not kept 10 minutes.
void openConnection(context::AppContext& ctx, bool waitForServer = true);

// The database settings openConnection uses: the kind ("TipoConexao_BD") with the date form its
// statements write, and for "mysql" the server of section "Conexao". The settings path must be known.
void readDatabaseSettings(context::AppContext& ctx);

}  // namespace quorvanti::startup
