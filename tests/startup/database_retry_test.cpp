// Start-up while MariaDB does not answer (virtual clock): a growing delay, a line a minute without the
// password, the server used once back, status 13 after ten minutes, status 0 at once on a stop.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "fiscal_component/unavailable_component.h"
#include "monitor/stored_receipt.h"
#include "startup/reprint.h"
#include "startup/sub_main.h"
#include "support/program_folder.h"

namespace quorvanti::startup {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using testing::ProgramFolder;

struct StartRun {
    ExitStatus status;
    milliseconds took;
    std::vector<std::pair<milliseconds, std::string>> lines;  // the waits' lines, by time since the start
    std::string shown;                                         // every caption and message box
};

// A start reaching MariaDB through `socket`; `stopAt(time since the start)` answers true for a stop.
StartRun start(ProgramFolder& folder, const std::string& socket, const std::function<bool(milliseconds)>& stopAt) {
    folder.setSetting("TipoConexao_BD", "mysql");
    folder.setSetting("host", socket, "Conexao");
    fiscal::UnavailableComponentFactory components;
    testing::TestMonitor monitor(folder, components);
    StartRun run{};
    const milliseconds begin = monitor.clock.steadyNow();
    std::size_t seen = 0;
    monitor.ctx.stopRequested = [&] {
        const milliseconds now = monitor.clock.steadyNow() - begin;
        const auto captions = monitor.frontend.captionsOf("Label1");
        for (; seen < captions.size(); ++seen)
            if (captions[seen].starts_with("Banco de dados inacessível")) run.lines.emplace_back(now, captions[seen]);
        return stopAt(now);
    };
    run.status = testing::exitStatusOf([&] { SubMain(monitor.ctx); }).value_or(ExitStatus::Normal);
    run.took = monitor.clock.steadyNow() - begin;
    for (const auto& r : monitor.frontend.repaints()) run.shown += r.text + "\n";
    for (const auto& text : monitor.messageTexts()) run.shown += text + "\n";
    return run;
}

TEST(DatabaseRetryTest, AnAbsentServerIsAwaitedTenMinutesWithALinePerMinuteThenStatus13) {
    ProgramFolder folder(database::DbKind::Sqlite);
    folder.setSetting("Senha", "s3gr3d0-da-loja", "Conexao");
    const StartRun run = start(folder, "/nonexistent/mysqld.sock", [](milliseconds) { return false; });
    EXPECT_EQ(run.status, ExitStatus::DatabaseConnectionFailed);
    EXPECT_TRUE(run.took >= 10min && run.took < 11min) << run.took.count();
    ASSERT_GE(run.lines.size(), 10u) << run.shown;  // one a minute, the first at once
    const auto& [at, first] = run.lines.front();
    EXPECT_TRUE(at == 0ms && first.find("(/nonexistent/mysqld.sock") != std::string::npos &&
                first.ends_with("): nova tentativa em 5 s"))
        << first;
    for (std::size_t i = 1; i < run.lines.size(); ++i) EXPECT_GE(run.lines[i].first - run.lines[i - 1].first, 60s);
    EXPECT_NE(run.shown.find("nova tentativa em 60 s"), std::string::npos) << "the delay grows to a minute";
    EXPECT_EQ(run.shown.find("s3gr3d0"), std::string::npos) << run.shown;
}

// An operator's reprint tries the server once and prints without the sale's code: the customer waits.
TEST(DatabaseRetryTest, AReprintDoesNotWaitForTheServer) {
    ProgramFolder folder(database::DbKind::Sqlite);
    folder.setSetting("TipoConexao_BD", "mysql");
    folder.setSetting("host", "/nonexistent/mysqld.sock", "Conexao");
    fiscal::UnavailableComponentFactory components;
    testing::TestMonitor monitor(folder, components);
    const std::string key(44, '1');
    testing::writeFile(monitor::storedProcNFePath(monitor.ctx, key), "<nfeProc/>");
    std::ostringstream errors;
    reprintNFCe(monitor.ctx, key, errors);
    EXPECT_EQ(monitor.clock.steadyNow(), 0ms);
    EXPECT_NE(errors.str().find("banco de dados indisponível"), std::string::npos) << errors.str();
}

TEST(DatabaseRetryTest, AStopEndsTheWaitAndAServerBackIsUsed) {
    ProgramFolder absent(database::DbKind::Sqlite);
    const StartRun stopped = start(absent, "/nonexistent/mysqld.sock", [](milliseconds t) { return t >= 150s; });
    EXPECT_EQ(stopped.status, ExitStatus::Normal);
    EXPECT_LE(stopped.took, 151s);
    EXPECT_EQ(stopped.shown.find("GRT7391"), std::string::npos);

    QUORVANTI_SKIP_WITHOUT_MARIADB(database::DbKind::MariaDb);
    ProgramFolder folder(database::DbKind::MariaDb);
    const std::string server = folder.setting("host", "Conexao");
    testing::TempDir link;  // the server's socket appears there after 150 s
    const StartRun back = start(folder, link.file("mysqld.sock"), [&](milliseconds t) {
        if (t >= 150s && !std::filesystem::exists(link.file("mysqld.sock")))
            std::filesystem::create_symlink(server, link.file("mysqld.sock"));
        return false;
    });
    EXPECT_EQ(back.status, ExitStatus::Normal) << back.shown;
    EXPECT_TRUE(back.took >= 150s && back.took <= 210s) << "connected within a delay of the server's return";
}

}  // namespace
}  // namespace quorvanti::startup
