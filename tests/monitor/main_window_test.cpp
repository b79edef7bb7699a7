// The main window and its dialogs, and the poll cycle behind its timer.
#include "monitor/main_window.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "fiscal_component/recording_component.h"
#include "fiscal_component/unavailable_component.h"
#include "monitor/parameter_editor.h"
#include "monitor/poll_cycle.h"
#include "monitor/shutdown_dialog.h"
#include "platform/program_exit.h"
#include "startup/sub_main.h"
#include "support/program_folder.h"

namespace quorvanti::monitor {
namespace {

using database::DbKind;
using testing::ProgramFolder;
using testing::TestMonitor;

class WindowsTest : public ::testing::Test {
protected:
    WindowsTest() { monitor.ctx.settings.SettingsPath = folder.settingsPath(); }
    ProgramFolder folder{database::DbKind::Sqlite};
    fiscal::UnavailableComponentFactory components;
    TestMonitor monitor{folder, components};
};

TEST_F(WindowsTest, CertificateSelectionFailureOffersTheRegistrationScript) {
    // The stand-in component's selector cannot work: the operator is told and the script is started.
    EXPECT_FALSE(seleciona_cert(monitor.ctx));
    ASSERT_EQ(monitor.frontend.messages().size(), 1u);
    EXPECT_NE(monitor.frontend.messages()[0].text.find("registraDLL.bat"), std::string::npos);
    EXPECT_EQ(monitor.shell.runs.size(), 1u);
}

TEST_F(WindowsTest, TheParameterEditorCompletesEmptyBoxesFromConfiguracaoXmlAndSaves) {
    for (const char* key : {"CSC", "IDtoken", "ambienteNFCE"}) folder.removeSetting(key);
    // A broken configuracao.xml gives nothing instead of failing.
    testing::writeFile(folder.path() + "/configuracao.xml", "<cfg><CSC>ABC</cfg>");
    EXPECT_EQ(retorna_tag(folder.path(), "<CSC>", "</CSC>"), "");

    testing::writeFile(folder.path() + "/configuracao.xml",
                       "<cfg><CSC>ABC</CSC><Serial>999</Serial><cIdToken>000002</cIdToken></cfg>");
    ParameterEditor editor(monitor.ctx);
    editor.load();
    const auto& boxes = editor.model().tx;  // the serial is set in the settings file: the file wins
    EXPECT_EQ(boxes[0].text + "|" + boxes[1].text + "|" + boxes[2].text + "|" + boxes[3].text, "1|ABC|1A2B3C|000002");
    // The CSC's mask handed back (as a page echoes a box) does not replace it (the mask: operator_panel_test).
    editor.typeText("CSC", "***");

    // A value start-up would refuse is named and nothing is saved. (Each domain and each required box:
    // sub_main_test's rows, through the same check.)
    editor.typeText("ambienteNFCE", "3");
    editor.click("Command1");
    EXPECT_FALSE(editor.closed());
    EXPECT_NE(monitor.frontend.messages().back().text.find("\"ambienteNFCE\""), std::string::npos)
        << monitor.frontend.messages().back().text;
    EXPECT_EQ(folder.setting("CSC"), "");
    editor.typeText("ambienteNFCE", "2");
    editor.click("Command1");
    EXPECT_TRUE(editor.closed());
    EXPECT_EQ(monitor.frontend.messages().back().text, "Gravado");
    EXPECT_EQ(folder.setting("ambienteNFCE") + "|" + folder.setting("CSC") + "|" + folder.setting("IDtoken"), "2|ABC|000002");
}

// The status check and the end from the dialog: the panel's browser journey.
TEST(ShutdownDialogTest, ACancelledCertificateChoiceKeepsTheSerialAndAChosenOneIsTaken) {
    ProgramFolder folder(database::DbKind::Sqlite);
    fiscal::RecordingComponentFactory components;
    TestMonitor monitor(folder, components);
    monitor.ctx.settings.SettingsPath = folder.settingsPath();

    ShutdownDialog dialog(monitor.ctx);
    dialog.load();
    // Cancelled choice: the serial stays.
    monitor.ctx.settings.ComponentCertificateSerial = "OLD";
    dialog.click("btnCertificado");
    EXPECT_EQ(monitor.frontend.messages().back().text, "Operação cancelada!");
    EXPECT_EQ(monitor.ctx.settings.ComponentCertificateSerial, "OLD");
    EXPECT_FALSE(monitor.ctx.settings.ComponentOk);

    components.setChosenCertificate({"LOJA TESTE LTDA", "AC TESTE", "0A1B2C", "01/01/2026", "01/01/2036"});
    dialog.click("btnCertificado");
    EXPECT_EQ(monitor.ctx.settings.ComponentCertificateSerial, "0A1B2C");
    EXPECT_TRUE(monitor.ctx.settings.ComponentOk);
    EXPECT_FALSE(dialog.closed());
}

// What the routine answers for a sale it emitted (or dropped): the row may go.
const EmissionOutcome kEmitted{.keepRow = false, .failure = "", .pendingError = ""};

class PollCycleTest : public ::testing::TestWithParam<DbKind> {
protected:
    void SetUp() override {
        QUORVANTI_SKIP_WITHOUT_MARIADB(GetParam());
        folder = std::make_unique<ProgramFolder>(GetParam());
        monitor = std::make_unique<TestMonitor>(*folder, components);
        startup::SubMain(monitor->ctx);
    }
    // Queues each sale code (an SQL literal) with a document body (one too).
    void queue(std::initializer_list<const char*> codvendas, const std::string& corpoXml = "'<NFe/>'") {
        for (const char* codvenda : codvendas)
            folder->execute("INSERT INTO TabNCEAEnviar (codvenda, enviada, dataV, corpoXML) VALUES (" +
                            std::string(codvenda) + ", 'enviar', '2026-03-05', " + corpoXml + ")");
    }
    std::string queued() const { return folder->value("select count(*) as n from TabNCEAEnviar", "n"); }
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
    queue({"NULL"});
    queue({"'100-01'"}, "'  '");
    queue({"'101-01'", "'O''Brien-01'"});  // the second deleted as typed
    tick([&](context::AppContext&, SaleQueueEntry& entry) {
        emitted.push_back(entry);
        return kEmitted;
    });
    ASSERT_EQ(emitted.size(), 2u);
    // A null column arrives as "".
    EXPECT_EQ(std::tie(emitted[0].NumVendaVem, emitted[0].numeroNFCE, emitted[1].NumVendaVem),
              std::make_tuple("101-01", "", "O'Brien-01"));
    EXPECT_EQ(queued(), "0");
    // Told, and logged under the sale, so that the panel lists it among the dropped sales.
    EXPECT_TRUE(monitor->shown("Venda 100-01 retirada da fila: sem XML (corpoXML vazio)"));
    EXPECT_NE(testing::readFile(folder->logPath()).find(" - 100-01 - Venda 100-01 retirada da fila: sem XML"),
              std::string::npos);
    EXPECT_TRUE(monitor->ctx.mainWindow.Timer1.enabled);
}

TEST_P(PollCycleTest, KeptRowsStayAndWaitAGrowingDelayAndTheOperatorIsToldOnce) {
    queue({"'200-01'", "'201-01'", "'202-01'"});
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

    // Before the first delay (3 s) nothing is due: a --once run ends. (The growing delays: EmissionTest.)
    monitor->clock.advance(std::chrono::milliseconds(2000));
    tick(routine);
    EXPECT_EQ(tries["200-01"], 1);
    EXPECT_TRUE(monitor->loop.quitting());

    // Tried again, the same failure is not shown again.
    monitor->clock.advance(std::chrono::milliseconds(1000));
    tick(routine);
    EXPECT_EQ(tries["201-01"], 2);
    EXPECT_EQ(messages(), atStart + 2);
    EXPECT_EQ(tries.count("203-01"), 0u);
}

// (A stop asked for mid-batch ends it after the current sale: CrashRecoveryTest's service stops, where the
// next sale is not begun.)
TEST_P(PollCycleTest, ACloseRequestedMidBatchOpensTheShutdownDialogAfterTheCurrentSale) {
    queue({"'300-01'", "'301-01'"});
    std::vector<std::size_t> dialogsWhenEmitting;
    tick([&](context::AppContext& ctx, SaleQueueEntry&) {
        dialogsWhenEmitting.push_back(monitor->frontend.dialogsShown().size());
        Image3_Click(ctx);
        return kEmitted;
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
        return kEmitted;
    };
    EXPECT_EQ(tick(routine), std::nullopt);
    EXPECT_EQ(folder->setting("EnviandoNFCEVenda"), "sim");  // not read in a tick that found nothing

    // With the work flag off and the point of sale asking for contingency, the program ends for it.
    queue({"'400-01'"});
    folder->setSetting("TemNFCE_PraGerar", "nao");
    EXPECT_EQ(tick(routine), ExitStatus::ContingencyRequested);
    EXPECT_TRUE(emitted.empty());
    EXPECT_EQ(queued(), "1");
    EXPECT_EQ(folder->setting("Contigencia"), "1");
    EXPECT_EQ(folder->setting("EnviandoNFCEVenda"), "");
}

INSTANTIATE_TEST_SUITE_P(Backends, PollCycleTest, testing::bothBackends(), testing::backendName);

}  // namespace
}  // namespace quorvanti::monitor
