#include "startup/database_open.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "context/program_files.h"
#include "database/db_error.h"
#include "database/mariadb_connection.h"
#include "database/schema_upgrade.h"
#include "database/sqlite_connection.h"
#include "platform/ini_file.h"
#include "platform/program_exit.h"

namespace quorvanti::startup {

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// A server that does not answer at start (MariaDB still starting with the machine, the network not up
// yet, a restart) is waited for instead of stopping at once: tries 5 s apart, then twice as long each
// time up to a minute, for 10 minutes. Then status 13, and the service manager starts the monitor again.
constexpr milliseconds kFirstRetryDelay = seconds(5);
constexpr milliseconds kLongestRetryDelay = seconds(60);
constexpr milliseconds kRetryFor = std::chrono::minutes(10);
// The journal hears of the outage at once, then at most once a minute.
constexpr milliseconds kLinePeriod = std::chrono::minutes(1);
// How soon a service stop ends a wait.
constexpr milliseconds kStopLook = seconds(1);

// Waits `duration` on the context's clock; a stop asked for meanwhile ends the program (status 0, as any
// stop does).
void waitForRetry(context::AppContext& ctx, milliseconds duration) {
    auto& clock = ctx.services.clock;
    const milliseconds until = clock.steadyNow() + duration;
    for (;;) {
        if (ctx.stopRequested()) endProgram(ExitStatus::Normal, "parada solicitada à espera do banco de dados");
        const milliseconds left = until - clock.steadyNow();
        if (left <= milliseconds(0)) return;
        clock.sleep(std::min(left, kStopLook));
        ctx.doEvents();
    }
}

// One line, whatever the server's message holds.
std::string oneLine(std::string text) {
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return text;
}

// Connects to the MariaDB server, waiting for it as above. The error texts never hold the password
// (MariaDbConnection takes it out).
std::unique_ptr<database::DbConnection> connectWaiting(context::AppContext& ctx,
                                                      const database::MariaDbParameters& parameters) {
    auto& clock = ctx.services.clock;
    const milliseconds giveUpAt = clock.steadyNow() + kRetryFor;
    milliseconds delay = kFirstRetryDelay;
    std::optional<milliseconds> lastLine;
    for (;;) {
        try {
            ctx.doEvents();
            auto connection = std::make_unique<database::MariaDbConnection>(parameters);
            ctx.doEvents();
            return connection;
        } catch (const database::DbError& error) {
            const milliseconds now = clock.steadyNow();
            if (now >= giveUpAt) {
                ctx.frontend().messageBox(
                    std::string("Houve erro de conexão, com a base de dados verifique erro(GRT7391)") +
                        context::kLineBreak + "Tente reabrir o módulo administrativo primeiro",
                    platform::MessageStyle::Ok);
                endProgram(ExitStatus::DatabaseConnectionFailed, error.what());
            }
            const milliseconds wait = std::min(delay, giveUpAt - now);
            if (!lastLine || now - *lastLine >= kLinePeriod) {
                const auto waitSeconds = std::chrono::ceil<seconds>(wait).count();
                ctx.status("Banco de dados inacessível (" + oneLine(error.what()) + "): nova tentativa em " +
                           std::to_string(waitSeconds) + " s");
                lastLine = now;
            }
            waitForRetry(ctx, wait);
            delay = std::min(delay * 2, kLongestRetryDelay);
        }
    }
}

}  // namespace

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

void openConnection(context::AppContext& ctx, bool waitForServer) {
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
        if (waitForServer) ctx.db = connectWaiting(ctx, parameters);
        else ctx.db = std::make_unique<database::MariaDbConnection>(parameters);
    } else {
        std::filesystem::path file(s.AccessDbPath);
        if (!s.AccessDbPath.empty() && file.is_relative()) file = std::filesystem::path(ctx.locations.programFolder) / file;
        ctx.db = std::make_unique<database::SqliteConnection>(file.string());
    }
    database::upgradeNfceGerada(*ctx.db, s.DbKind);
}

}  // namespace quorvanti::startup
