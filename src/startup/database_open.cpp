#include "startup/database_open.h"

#include <filesystem>

#include "context/program_files.h"
#include "database/db_error.h"
#include "database/mariadb_connection.h"
#include "database/schema_upgrade.h"
#include "database/sqlite_connection.h"
#include "platform/ini_file.h"
#include "platform/program_exit.h"

namespace quorvanti::startup {

void readDatabaseSettings(context::AppContext& ctx) {
    auto& s = ctx.settings;
    s.DbKind = context::readGeral(ctx, "TipoConexao_BD");
    if (s.DbKind != "mysql") {
        s.DateQuote = "'";
        s.DateFormat = "yyyy-mm-dd";
        return;
    }
    s.DbHost = platform::readSetting("Conexao", "host", s.SettingsPath);
    s.DbName = platform::readSetting("Conexao", "base", s.SettingsPath);
    s.DbUser = platform::readSetting("Conexao", "usuarioD", s.SettingsPath);
    s.DbPassword = platform::readSetting("Conexao", "Senha", s.SettingsPath);
    s.DateQuote = " ' ";
    s.DateFormat = "yyyy/mm/dd";
    ctx.doEvents();
}

void openConnection(context::AppContext& ctx) {
    const auto& s = ctx.settings;
    if (s.DbKind == "mysql") {
        database::MariaDbParameters parameters;
        parameters.host = s.DbHost;
        parameters.database = s.DbName;
        parameters.user = s.DbUser;
        parameters.password = s.DbPassword;
        if (!s.DbHost.empty() && s.DbHost.front() == '/') {
            parameters.socket = s.DbHost;
            parameters.host = "localhost";
        }
        try {
            ctx.doEvents();
            ctx.db = std::make_unique<database::MariaDbConnection>(parameters);
            ctx.doEvents();
        } catch (const database::DbError& error) {
            ctx.frontend().messageBox(std::string("Houve erro de conexão, com a base de dados verifique erro(GRT7391)") +
                                          context::kLineBreak + "Tente reabrir o módulo administrativo primeiro",
                                      platform::MessageStyle::Ok);
            endProgram(ExitStatus::DatabaseConnectionFailed, error.what());
        }
    } else {
        std::filesystem::path file(s.AccessDbPath);
        if (!s.AccessDbPath.empty() && file.is_relative()) file = std::filesystem::path(ctx.locations.programFolder) / file;
        ctx.db = std::make_unique<database::SqliteConnection>(file.string());
    }
    database::upgradeNfceGerada(*ctx.db, s.DbKind);
}

}  // namespace quorvanti::startup
