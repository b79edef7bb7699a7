#include "monitor/poll_cycle.h"

#include <gtest/gtest.h>

#include <map>

#include "fiscal_component/unavailable_component.h"
#include "monitor/main_window.h"
#include "platform/program_exit.h"
#include "startup/sub_main.h"
#include "support/program_folder.h"

namespace quorvanti::monitor {
namespace {

// What the routine answers for a sale it emitted (or dropped): the row may go.
EmissionOutcome emittedOutcome() {
    EmissionOutcome outcome;
    outcome.keepRow = false;
    return outcome;
}

using database::DbKind;
using testing::ProgramFolder;
using testing::TestMonitor;

class PollCycleTest : public ::testing::TestWithParam<DbKind> {
protected:
    void SetUp() override {
        QUORVANTI_SKIP_WITHOUT_MARIADB(GetParam());
        folder = std::make_unique<ProgramFolder>(GetParam());
        monitor = std::make_unique<TestMonitor>(*folder, components);
        startup::SubMain(monitor->ctx);
    }
    void queue(const std::string& codvenda, const std::string& corpoXml) {
        folder->execute("INSERT INTO TabNCEAEnviar (codvenda, enviada, dataV, corpoXML) VALUES (" + codvenda +
                        ", 'enviar', '2026-03-05', " + corpoXml + ")");
    }
    long long queued() {
        auto rows = folder->connect()->open("select count(*) as n from TabNCEAEnviar");
        return static_cast<long long>(rows.field("n").number());
    }
    // Runs one tick; answers the exit status when the tick ended the program.
    std::optional<ExitStatus> tick(const EmissionRoutine& routine) {
        return testing::exitStatusOf([&] { Timer1_Timer(monitor->ctx, routine); });
    }

    fiscal::UnavailableComponentFactory components;
    std::unique_ptr<ProgramFolder> folder;
    std::unique_ptr<TestMonitor> monitor;
    std::vector<SaleQueueEntry> emitted;
};

TEST_P(PollCycleTest, RowsWithoutCodeOrXmlAreDroppedAndEachSaleIsHandedOnce) {
    // The print-server query takes every queued row, a row without sale code included.
    monitor->ctx.settings.QueueSql = "Select * from TabNCEAEnviar where enviada = 'enviar'";
    queue("NULL", "'<NFe/>'");
    queue("'100-01'", "'  '");
    queue("'101-01'", "'<NFe/>'");
    queue("'O''Brien-01'", "'<NFe/>'");  // deleted as typed
    const auto sleptBefore = monitor->clock.slept();
    tick([&](context::AppContext&, SaleQueueEntry& entry) {
        emitted.push_back(entry);
        return emittedOutcome();
    });
    ASSERT_EQ(emitted.size(), 2u);
    EXPECT_EQ(emitted[1].NumVendaVem, "O'Brien-01");
    EXPECT_EQ(emitted[0].NumVendaVem, "101-01");
    EXPECT_EQ(emitted[0].DataVenda, "05/03/2026");
    EXPECT_EQ(emitted[0].corpoXML, "<NFe/>");
    EXPECT_EQ(emitted[0].numeroNFCE, "");  // a null column arrives as ""
    EXPECT_EQ(queued(), 0);
    EXPECT_EQ(monitor->clock.slept() - sleptBefore, std::chrono::milliseconds(3000));
    EXPECT_EQ(monitor->frontend.captionsOf("Label11"), (std::vector<std::string>{"4", "3", "2", "1"}));
    EXPECT_TRUE(monitor->captioned("Deletou sem xml Codvenda: 100-01"));
    EXPECT_TRUE(monitor->ctx.mainWindow.Timer1.enabled);
    EXPECT_FALSE(monitor->ctx.mainWindow.visible);
}

TEST_P(PollCycleTest, KeptRowsStayAndWaitAGrowingDelayAndTheOperatorIsToldOnce) {
    queue("'200-01'", "'<NFe/>'");
    queue("'201-01'", "'<NFe/>'");
    queue("'202-01'", "'<NFe/>'");
    folder->execute("INSERT INTO TabNCEAEnviar (codvenda, enviada, dataV, corpoXML) VALUES ('203-01', 'enviar', NULL, "
                    "'<NFe/>')");
    monitor->ctx.endWhenIdle = true;
    std::map<std::string, int> tries;
    const auto routine = [&](context::AppContext&, SaleQueueEntry& entry) {
        ++tries[entry.NumVendaVem];
        EmissionOutcome outcome;
        if (entry.NumVendaVem == "200-01") outcome.failure = "sem resposta";
        if (entry.NumVendaVem == "201-01") outcome.pendingError = "falha de rede";
        if (entry.NumVendaVem == "202-01") outcome.keepRow = false;
        return outcome;
    };
    const auto messages = [&] { return monitor->frontend.messages().size(); };
    const std::size_t atStart = messages();  // the set-up failure at start
    tick(routine);
    auto rows = folder->connect()->open("select codvenda from TabNCEAEnviar order by codvenda");
    ASSERT_EQ(rows.recordCount(), 3u);  // 202-01 went; the kept, the failed and the malformed rows stay
    EXPECT_EQ(monitor->frontend.messages()[atStart].text,
              "falha de rede\r\nErro de consulta, ou interrompido o envio 894567");
    EXPECT_NE(monitor->frontend.messages()[atStart + 1].text.find("203-01"), std::string::npos);
    EXPECT_EQ(messages(), atStart + 2);
    EXPECT_FALSE(monitor->loop.quitting());

    // Before the first delay (3 s) nothing is due: a --once run ends.
    monitor->clock.advance(std::chrono::milliseconds(2000));
    tick(routine);
    EXPECT_EQ(tries["200-01"], 1);
    EXPECT_TRUE(monitor->loop.quitting());

    // Then each is tried again after 3 s, 6 s, 12 s ...; the same failure is not shown again.
    int tickedAt3s = 0, tickedAt9s = 0;
    monitor->clock.advance(std::chrono::milliseconds(1000));
    tick(routine);
    tickedAt3s = tries["200-01"];
    monitor->clock.advance(std::chrono::milliseconds(5000));
    tick(routine);
    EXPECT_EQ(tries["200-01"], tickedAt3s);
    monitor->clock.advance(std::chrono::milliseconds(1000));
    tick(routine);
    tickedAt9s = tries["200-01"];
    EXPECT_EQ(tickedAt3s, 2);
    EXPECT_EQ(tickedAt9s, 3);
    EXPECT_EQ(tries["201-01"], 3);
    EXPECT_EQ(messages(), atStart + 2);
    EXPECT_EQ(tries.count("203-01"), 0u);
}

TEST_P(PollCycleTest, AStopAskedForEndsTheBatchAfterTheCurrentSale) {
    queue("'210-01'", "'<NFe/>'");
    queue("'211-01'", "'<NFe/>'");
    bool stop = false;
    monitor->ctx.stopRequested = [&] { return stop; };
    tick([&](context::AppContext&, SaleQueueEntry& entry) {
        emitted.push_back(entry);
        stop = true;  // the signal arrives while the first sale is emitted
        return emittedOutcome();
    });
    EXPECT_EQ(emitted.size(), 1u);
    EXPECT_EQ(queued(), 1);
    EXPECT_TRUE(monitor->loop.quitting());
}

TEST_P(PollCycleTest, ACloseRequestedMidBatchOpensTheShutdownDialogAfterTheCurrentSale) {
    queue("'300-01'", "'<NFe/>'");
    queue("'301-01'", "'<NFe/>'");
    std::vector<std::size_t> dialogsWhenEmitting;
    tick([&](context::AppContext& ctx, SaleQueueEntry&) {
        dialogsWhenEmitting.push_back(monitor->frontend.dialogsShown().size());
        Image3_Click(ctx);
        return emittedOutcome();
    });
    // Start-up showed one (component not usable); then one after each sale, never during one.
    EXPECT_EQ(dialogsWhenEmitting, (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(monitor->frontend.dialogsShown().size(), 3u);
    EXPECT_EQ(monitor->ctx.mainWindow.Label7.caption, "AGUARDE - ENCERRANDO");
    EXPECT_EQ(monitor->ctx.mainWindow.Label7.foreColor, windows::kRed);
}

TEST_P(PollCycleTest, AnEmptyQueueHidesTheWindowAndAQueuedSaleReadsTheContingencyRequest) {
    folder->setSetting("EnviandoNFCEVenda", "sim");
    monitor->ctx.endWhenIdle = true;
    const auto routine = [&](context::AppContext&, SaleQueueEntry& entry) {
        emitted.push_back(entry);
        return emittedOutcome();
    };
    EXPECT_EQ(tick(routine), std::nullopt);
    EXPECT_TRUE(monitor->loop.quitting());
    EXPECT_EQ(folder->setting("EnviandoNFCEVenda"), "sim");  // not read in a tick that found nothing
    EXPECT_EQ(monitor->ctx.mainWindow.Label14.caption, "NORMAL");
    EXPECT_EQ(monitor->ctx.mainWindow.Label12.caption, "1");

    // With the work flag off and the point of sale asking for contingency, the program ends for it.
    queue("'400-01'", "'<NFe/>'");
    folder->setSetting("TemNFCE_PraGerar", "nao");
    EXPECT_EQ(tick(routine), ExitStatus::ContingencyRequested);
    EXPECT_TRUE(emitted.empty());
    EXPECT_EQ(queued(), 1);
    EXPECT_EQ(folder->setting("Contigencia"), "1");
    EXPECT_EQ(folder->setting("EnviandoNFCEVenda"), "");
}

INSTANTIATE_TEST_SUITE_P(Backends, PollCycleTest, testing::bothBackends(), testing::backendName);

}  // namespace
}  // namespace quorvanti::monitor
