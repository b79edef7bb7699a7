#include "monitor/poll_cycle.h"

#include <gtest/gtest.h>

#include "fiscal_component/unavailable_component.h"
#include "monitor/main_window.h"
#include "platform/program_exit.h"
#include "startup/sub_main.h"
#include "support/program_folder.h"

namespace quorvanti::monitor {
namespace {

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
    const auto sleptBefore = monitor->clock.slept();
    tick([&](context::AppContext&, SaleQueueEntry& entry) {
        emitted.push_back(entry);
        return EmissionOutcome{};
    });
    ASSERT_EQ(emitted.size(), 1u);
    EXPECT_EQ(emitted[0].NumVendaVem, "101-01");
    EXPECT_EQ(emitted[0].DataVenda, "05/03/2026");
    EXPECT_EQ(emitted[0].corpoXML, "<NFe/>");
    EXPECT_EQ(emitted[0].numeroNFCE, "");  // a null column arrives as ""
    EXPECT_EQ(queued(), 0);
    EXPECT_EQ(monitor->clock.slept() - sleptBefore, std::chrono::milliseconds(3000));
    EXPECT_EQ(monitor->frontend.captionsOf("Label11"), (std::vector<std::string>{"3", "2", "1"}));
    const auto status = monitor->frontend.captionsOf("Label1");
    EXPECT_NE(std::find(status.begin(), status.end(), "Deletou sem xml Codvenda: 100-01"), status.end());
    EXPECT_TRUE(monitor->ctx.mainWindow.Timer1.enabled);
    EXPECT_FALSE(monitor->ctx.mainWindow.visible);
}

TEST_P(PollCycleTest, ARowTheRoutineKeepsOrLeavesWithAnErrorStaysInTheQueue) {
    queue("'200-01'", "'<NFe/>'");
    queue("'201-01'", "'<NFe/>'");
    queue("'202-01'", "'<NFe/>'");
    tick([&](context::AppContext&, SaleQueueEntry& entry) {
        EmissionOutcome outcome;
        if (entry.NumVendaVem == "200-01") outcome.keepRow = true;
        if (entry.NumVendaVem == "201-01") outcome.pendingError = "falha de rede";
        return outcome;
    });
    auto rows = folder->connect()->open("select codvenda from TabNCEAEnviar order by codvenda");
    ASSERT_EQ(rows.recordCount(), 2u);
    EXPECT_EQ(rows.field("codvenda").text(), "200-01");
    rows.moveNext();
    EXPECT_EQ(rows.field("codvenda").text(), "201-01");
    ASSERT_EQ(monitor->frontend.messages().size(), 2u);  // the set-up failure at start, then this one
    EXPECT_EQ(monitor->frontend.messages()[1].text,
              "falha de rede\r\nErro de consulta, ou interrompido o envio 894567");
}

TEST_P(PollCycleTest, ASaleCodeWithAnApostropheIsDeletedAsTyped) {
    queue("'O''Brien-01'", "'<NFe/>'");
    tick([&](context::AppContext&, SaleQueueEntry& entry) {
        emitted.push_back(entry);
        return EmissionOutcome{};
    });
    ASSERT_EQ(emitted.size(), 1u);
    EXPECT_EQ(emitted[0].NumVendaVem, "O'Brien-01");
    EXPECT_EQ(queued(), 0);
}

TEST_P(PollCycleTest, ACloseRequestedMidBatchOpensTheShutdownDialogAfterTheCurrentSale) {
    queue("'300-01'", "'<NFe/>'");
    queue("'301-01'", "'<NFe/>'");
    std::vector<std::size_t> dialogsWhenEmitting;
    tick([&](context::AppContext& ctx, SaleQueueEntry&) {
        dialogsWhenEmitting.push_back(monitor->frontend.dialogsShown().size());
        Image3_Click(ctx);
        return EmissionOutcome{};
    });
    // Start-up showed one (component not usable); then one after each sale, never during one.
    EXPECT_EQ(dialogsWhenEmitting, (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(monitor->frontend.dialogsShown().size(), 3u);
    EXPECT_EQ(monitor->ctx.mainWindow.Label7.caption, "AGUARDE - ENCERRANDO");
    EXPECT_EQ(monitor->ctx.mainWindow.Label7.foreColor, windows::kRed);
}

TEST_P(PollCycleTest, TheWorkFlagAndTheContingencyRequest) {
    queue("'400-01'", "'<NFe/>'");
    folder->setSetting("TemNFCE_PraGerar", "nao");
    folder->setSetting("EnviandoNFCEVenda", "sim");
    const auto routine = [&](context::AppContext&, SaleQueueEntry& entry) {
        emitted.push_back(entry);
        return EmissionOutcome{};
    };
    EXPECT_EQ(tick(routine), ExitStatus::ContingencyRequested);
    EXPECT_TRUE(emitted.empty());
    EXPECT_EQ(queued(), 1);
    EXPECT_EQ(folder->setting("Contigencia"), "1");
    EXPECT_EQ(folder->setting("EnviandoNFCEVenda"), "");
}

TEST_P(PollCycleTest, AnEmptyQueueHidesTheWindowAndEndsAOnceRun) {
    folder->setSetting("EnviandoNFCEVenda", "sim");
    monitor->ctx.endWhenIdle = true;
    EXPECT_EQ(tick([](context::AppContext&, SaleQueueEntry&) { return EmissionOutcome{}; }), std::nullopt);
    EXPECT_TRUE(monitor->loop.quitting());
    EXPECT_EQ(folder->setting("EnviandoNFCEVenda"), "sim");  // not read in a tick that found nothing
    EXPECT_EQ(monitor->ctx.mainWindow.Label14.caption, "NORMAL");
    EXPECT_EQ(monitor->ctx.mainWindow.Label12.caption, "1");
}

INSTANTIATE_TEST_SUITE_P(Backends, PollCycleTest, testing::bothBackends(), testing::backendName);

}  // namespace
}  // namespace quorvanti::monitor
