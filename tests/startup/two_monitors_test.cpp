// Two monitors on one database: two program folders whose settings name the same SQLite file or the
// same MariaDB database, both real executables started together over one queue of 50 sales (each run
// with --once again until the queue is empty), against one local SEFAZ. Both select every sale: the
// same terminal, or different terminals in a shop whose config makes each a print server. Every sale
// must end with one NFC-e, whichever monitor took it: two monitors unaware of each other make two.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <vector>

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

struct SharedQueue {
    std::string name;
    DbKind kind;
    bool printServers;  // different NTerminal, config.Serv_ImpresNFCE = 1
};
void PrintTo(const SharedQueue& c, std::ostream* out) { *out << c.name; }

class TwoMonitorsTest : public ::testing::TestWithParam<SharedQueue> {};

// `second` reaches the database of `first` (its own scratch database is left unused).
void shareDatabase(ProgramFolder& second, const ProgramFolder& first) {
    second.setSetting("Caminho", first.setting("Caminho"));
    for (const char* key : {"host", "base", "usuarioD", "Senha"})
        second.setSetting(key, first.setting(key, "Conexao"), "Conexao");
}

TEST_P(TwoMonitorsTest, EachSaleGetsOneNfceWhicheverMonitorTakesIt) {
    QUORVANTI_SKIP_WITHOUT_MARIADB(GetParam().kind);
    ProgramFolder first(GetParam().kind), second(GetParam().kind);
    shareDatabase(second, first);
    const auto authority = testing::startShopAuthority(first, "10000");
    ASSERT_GT(authority->port(), 0) << authority->log();
    testing::writeFile(second.path() + "/nfe/webservices.ini",
                       testing::webServicesIni(authority->port(), testing::testAuthorityPem(), "10000"));
    for (ProgramFolder* folder : {&first, &second}) {
        testing::installTestSigner(*folder);
        folder->setSetting("EmissaoRapida", "1");
    }
    if (GetParam().printServers) {
        second.setSetting("NTerminal", "2");
        first.execute("UPDATE config SET Serv_ImpresNFCE = 1");
    }
    const auto sales = testing::saleCodes(50);
    testing::queueSalesWithItems(first, sales);

    std::mutex database;
    const auto anyQueued = [&] {
        const std::lock_guard<std::mutex> lock(database);
        return first.value("select count(*) as n from TabNCEAEnviar", "n") != "0";
    };
    const auto drain = [&](const ProgramFolder& folder) {
        std::vector<MonitorRun> runs;
        do runs.push_back(testing::runMonitor(folder, {}, {.timeScale = "0.01"}));
        while (runs.size() < 5 && anyQueued());
        return runs;
    };
    auto one = std::async(std::launch::async, drain, std::cref(first));
    auto other = std::async(std::launch::async, drain, std::cref(second));
    for (const auto& runs : {one.get(), other.get()})
        for (const MonitorRun& run : runs) EXPECT_TRUE(run.exited && run.status == 0) << testing::lastLines(run.output);

    testing::expectEachSaleAuthorisedOnce(first, first.path() + "/../estado", sales, {&first, &second});
    // Both took part: otherwise the case proves nothing about two monitors.
    for (const ProgramFolder* folder : {&first, &second})
        EXPECT_GT(testing::filesIn(folder->path() + "/nfe/arquivos/procNFe"), 0u) << folder->path();
}

INSTANTIATE_TEST_SUITE_P(SharedDatabase, TwoMonitorsTest,
                         ::testing::Values(SharedQueue{"SqliteSameTerminal", DbKind::Sqlite, false},
                                           SharedQueue{"SqlitePrintServers", DbKind::Sqlite, true},
                                           SharedQueue{"MariaDbSameTerminal", DbKind::MariaDb, false},
                                           SharedQueue{"MariaDbPrintServers", DbKind::MariaDb, true}),
                         [](const ::testing::TestParamInfo<SharedQueue>& info) { return info.param.name; });

}  // namespace
}  // namespace quorvanti::startup
