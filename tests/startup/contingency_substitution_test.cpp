// The real executables through an outage: a normal document sent, its answer lost and no consultation
// answering; the shop switches to contingency and the customer gets a contingency document at once;
// the authority comes back, the contingency sender has that document authorised and cancels the
// earlier one by substitution, killed while the authority registers the event. In the end the sale has
// one valid NFC-e, recorded once, and the authority holds the event once.
#include <signal.h>

#include <gtest/gtest.h>

#include "support/monitor_process.h"
#include "support/program_folder.h"
#include "support/queued_sales.h"
#include "support/sefaz_process.h"

namespace quorvanti::startup {
namespace {

using namespace quorvanti::testing;

TEST(ContingencySubstitutionTest, TheSaleGoesOnInContingencyAndTheEarlierDocumentIsCancelledOnce) {
    ProgramFolder folder(database::DbKind::Sqlite);
    installTestSigner(folder);
    const auto authority = startShopAuthority(folder, "3000");
    ASSERT_GT(authority->port(), 0) << authority->log();
    const std::string scenario = folder.path() + "/../cenario.txt";
    const auto eventsAtTheAuthority = [&] { return filesIn(folder.path() + "/../estado/eventos"); };
    const auto states = [&] {
        std::string all;
        auto rows = folder.connect()->open("select tp_emis, estado from quorvanti_attempts order by id");
        for (rows.moveFirst(); !rows.eof(); rows.moveNext())
            all += rows.field("tp_emis").text() + ":" + rows.field("estado").text() + " ";
        return all;
    };
    replaceScenario(scenario, "[call send *]\ndrop = after\n[call consult *]\nhttp = 503\n");
    queueSalesWithItems(folder, 1);
    const MonitorRun normal = runMonitor(folder);
    ASSERT_EQ(normal.status, 0) << lastLines(normal.output);
    ASSERT_TRUE(folder.queued("801-01"));

    // The point-of-sale program marks the sale for contingency; the monitor emits it at once.
    folder.execute("UPDATE TabNCEAEnviar SET Serv_ImpresNFCE = '1', DataContigencia = '2026-03-05T14:00:00-04:00', "
                   "caminhoXMLcontigencia = '1'");
    folder.setSetting("Contigencia", "1");
    const MonitorRun contingency = runMonitor(folder);
    ASSERT_EQ(contingency.status, 0) << lastLines(contingency.output);
    EXPECT_EQ(states(), "1:superseded 9:stored ");

    // The authority is back; the sender is killed while the substitution's answer is on its way.
    replaceScenario(scenario, "[call evento *]\ndelay = 3000\n");
    folder.setSetting("Contigencia", "0");
    folder.setSetting("EnviadorDeContigencia", "1");
    const MonitorRun killed = runMonitor(folder, [&](MonitorRun& run, const std::string&) {
        if (!run.stopped && eventsAtTheAuthority() == 1) run.signal(SIGKILL);
    });
    EXPECT_TRUE(killed.stopped) << lastLines(killed.output);
    replaceScenario(scenario, "");
    const MonitorRun after = runMonitor(folder);
    EXPECT_EQ(after.status, 0) << lastLines(after.output);

    EXPECT_EQ(states(), "1:substituted 9:recorded ");
    EXPECT_EQ(eventsAtTheAuthority(), 1u);
    EXPECT_FALSE(folder.queued("801-01"));
    EXPECT_EQ(folder.value("select count(*) as n from nfce_gerada", "n"), "1");
    EXPECT_EQ(folder.value("select chave from nfce_gerada", "chave").substr(34, 1), "9");
    EXPECT_EQ(folder.value("select estado from quorvanti_events", "estado"), "registered");
}

}  // namespace
}  // namespace quorvanti::startup
