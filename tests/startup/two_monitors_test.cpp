// Two real monitors on one database (SQLite file or MariaDB), started together over 50 queued sales
// (each again with --once until the queue is empty) against one local SEFAZ, on the same terminal or as
// print servers of different terminals: each sale must end with one NFC-e, whichever monitor took it.
#include <gtest/gtest.h>

#include <future>
#include <mutex>

#include "support/monitor_process.h"
#include "support/program_folder.h"
#include "support/queued_sales.h"
#include "support/sefaz_process.h"
#include "support/test_certificates.h"

namespace quorvanti::startup {
namespace {

using database::DbKind;
using testing::MonitorRun;
using testing::ProgramFolder;

class TwoMonitorsTest : public ::testing::TestWithParam<std::tuple<DbKind, bool /* print servers */>> {};

TEST_P(TwoMonitorsTest, EachSaleGetsOneNfceWhicheverMonitorTakesIt) {
    const auto [kind, printServers] = GetParam();
    QUORVANTI_SKIP_WITHOUT_MARIADB(kind);
    ProgramFolder first(kind), second(kind);
    second.setSetting("Caminho", first.setting("Caminho"));
    for (const char* key : {"host", "base", "usuarioD", "Senha"})
        second.setSetting(key, first.setting(key, "Conexao"), "Conexao");
    const auto authority = testing::startShopAuthority(first, "10000");
    ASSERT_GT(authority->port(), 0) << authority->log();
    testing::writeFile(second.path() + "/nfe/webservices.ini",
                       testing::webServicesIni(authority->port(), testing::testAuthorityPem(), "10000"));
    for (ProgramFolder* folder : {&first, &second}) {
        testing::installTestSigner(*folder);
        folder->setSetting("EmissaoRapida", "1");
    }
    if (printServers) {
        second.setSetting("NTerminal", "2");
        first.execute("UPDATE config SET Serv_ImpresNFCE = 1");
    }
    const auto sales = testing::queueSalesWithItems(first, 50);

    std::mutex database;
    const auto drain = [&](const ProgramFolder& folder) {
        std::vector<MonitorRun> runs;
        do runs.push_back(testing::runMonitor(folder, {}, {.timeScale = "0.01"}));
        while (runs.size() < 5 && [&] {
            const std::lock_guard<std::mutex> lock(database);
            return first.value("select count(*) as n from TabNCEAEnviar", "n") != "0";
        }());
        return runs;
    };
    auto one = std::async(std::launch::async, drain, std::cref(first));
    auto other = std::async(std::launch::async, drain, std::cref(second));
    for (const auto& runs : {one.get(), other.get()})
        for (const MonitorRun& run : runs) EXPECT_TRUE(run.exited && run.status == 0) << testing::lastLines(run.output);

    testing::expectEachSaleAuthorisedOnce(first, first.path() + "/../estado", sales, {&first, &second});
    for (const ProgramFolder* folder : {&first, &second})  // both took part, or the case proves nothing
        EXPECT_GT(testing::filesIn(folder->path() + "/nfe/arquivos/procNFe"), 0u) << folder->path();
}

INSTANTIATE_TEST_SUITE_P(SharedDatabase, TwoMonitorsTest,
                         ::testing::Combine(::testing::Values(DbKind::Sqlite, DbKind::MariaDb), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == DbKind::Sqlite ? "Sqlite" : "MariaDb") +
                                    (std::get<1>(info.param) ? "PrintServers" : "SameTerminal");
                         });

}  // namespace
}  // namespace quorvanti::startup
