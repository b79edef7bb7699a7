// The monitor's side of the operator's panel: what reaches the page (never a secret) and the dashboard's
// reading of the queue and the log, with the re-queuing of a dropped sale.
#include "monitor/operator_panel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <tuple>

#include "authorisation/attempt_journal.h"
#include "context/program_files.h"
#include "context/shop_clock.h"
#include "database/date_literal.h"
#include "database/schema_upgrade.h"
#include "fiscal_events/event_journal.h"
#include "fiscal_component/certificates/certificate_store.h"
#include "fiscal_component/unavailable_component.h"
#include "monitor/parameter_editor.h"
#include "startup/queue_sql.h"
#include "support/program_folder.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace quorvanti::monitor {
namespace {

using testing::ProgramFolder;
using testing::TestMonitor;

class OperatorPanelTest : public ::testing::Test {
protected:
    OperatorPanelTest() {
        auto& s = monitor.ctx.settings;
        s.SettingsPath = folder.settingsPath();
        s.LogPath = folder.logPath();
        s.Terminal = "1";
        s.Csc = kCsc;
        s.DbPassword = "senha-do-banco-XYZ";
        folder.setSetting("CSC", kCsc);
        s.Contingency = "0";
        monitor.ctx.db = folder.connect();
        database::upgradeJournal(*monitor.ctx.db);
        startup::chooseQueueSql(monitor.ctx);
        monitor.ctx.mainWindow.Timer1.enabled = true;  // between polls
    }
    static constexpr const char* kCsc = "CSC-SEGREDO-0123456789";

    ProgramFolder folder{database::DbKind::Sqlite};
    fiscal::UnavailableComponentFactory components;
    TestMonitor monitor{folder, components};
    std::ostringstream journal;
    std::string shownEditor;
    // The editor's snapshot is taken when it waits for its first input; the stop then closes it.
    platform::WebFrontend web{monitor.loop, journal, platform::MessageAnswer::Yes, [this] {
                                  shownEditor = web.stateJson();
                                  return true;
                              }};
    OperatorPanel panel{monitor.ctx, web, folder.path() + "/certificados"};
};

// The CSC, the database's password and the certificates' passwords (the one in use, and one the store
// cannot open) are set; neither the editor, nor the window and dashboard, nor the journal carries one.
TEST_F(OperatorPanelTest, SecretsNeverReachThePage) {
    const std::string store = folder.path() + "/certificados";
    const std::string pfx = testing::installTestCertificate(store);
    std::string certificatePassword = testing::readFile(pfx + ".senha");
    certificatePassword.erase(certificatePassword.find_last_not_of("\r\n") + 1);
    testing::writeFile(testing::installTestCertificate(store, testing::TestCertificate::Expired) + ".senha",
                       "senha-errada-XYZ\n");
    monitor.ctx.settings.CertificateSerial = fiscal::CertificateStore(store).list().at(0).serialNumber;
    ParameterEditor editor(monitor.ctx);
    web.showModal(editor);
    EXPECT_TRUE(editor.closed());
    EXPECT_NE(shownEditor.find("[\"CSC\",\"" + std::string(std::string(kCsc).size(), '*') + "\"]"), std::string::npos)
        << shownEditor;
    EXPECT_NE(shownEditor.find("[\"Command1\",\"Gravar\"]"), std::string::npos);
    // A CSC typed in the page goes back masked too.
    editor.typeText("CSC", "NOVO-CSC-SEGREDO-987");
    std::string typed;
    for (const auto& [control, text] : editor.controls()) typed += control + "=" + text + "\n";
    panel.publishWindow();
    panel.publishDashboard();
    EXPECT_THAT(web.stateJson(), ::testing::HasSubstr("\"holder\":\"QUORVANTI LOJA TESTE LTDA"));
    for (const std::string& shown : {shownEditor, typed, web.stateJson(), journal.str()})
        for (const std::string& secret : {std::string(kCsc), std::string("senha-do-banco-XYZ"), certificatePassword,
                                          std::string("senha-errada-XYZ"), std::string("NOVO-CSC-SEGREDO-987")})
            EXPECT_EQ(shown.find(secret), std::string::npos) << secret << " in " << shown;
}

// (The dropped sales, listed with their reasons: the panel's browser journey.)
TEST_F(OperatorPanelTest, TheDashboardShowsTheQueueAndTheDroppedSalesAndQueuesOneAgainBetweenPolls) {
    folder.addItem({.sale = "700-01"});
    folder.queueSale("702-01");
    folder.execute("insert into nfce_gerada (cod_venda, numeronfce) values ('701-01', '5')");
    monitor.ctx.retries.postpone("702-01", "Sem resposta", monitor.clock.steadyNow());
    folder.queueSale("709-01");  // set aside before a restart: its reason is still shown
    authorisation::AttemptJournal(monitor.ctx).setAside({"709-01", "05/03/2026"}, "Venda 709-01: valor acima do limite");
    // The signing certificate has expired: the dashboard warns.
    const std::string store = folder.path() + "/certificados";
    testing::installTestCertificate(store, testing::TestCertificate::Expired);
    monitor.ctx.settings.CertificateSerial = fiscal::CertificateStore(store).list().at(0).serialNumber;
    ShopDashboard dashboard(monitor.ctx, store);
    const std::string json = dashboard.gather();
    using ::testing::HasSubstr;
    EXPECT_THAT(json, HasSubstr("\"expired\":true,\"warning\":true"));
    EXPECT_THAT(json, HasSubstr("\"sale\":\"702-01\",\"date\":\"05/03/2026\",\"state\":\"aguardando nova tentativa\""));
    EXPECT_THAT(json, HasSubstr("\"failure\":\"Venda 709-01: valor acima do limite\""));
    // During a batch the insert waits; between polls it is made as the point-of-sale program makes it.
    monitor.ctx.mainWindow.Timer1.enabled = false;
    dashboard.requestRequeue("700-01");
    dashboard.gather();
    EXPECT_FALSE(folder.queued("700-01"));
    monitor.ctx.mainWindow.Timer1.enabled = true;
    EXPECT_THAT(dashboard.gather(), HasSubstr("\"note\":\"Venda 700-01 recolocada na fila\""));
    EXPECT_EQ(folder.value("select enviada || '|' || dataV || '|' || Serv_ImpresNFCE as v from TabNCEAEnviar "
                           "where codvenda = '700-01'", "v"),
              "enviar|2026-03-05|1");
    // A sale with its NFC-e, or one the shop never sold, is not queued.
    const std::pair<const char*, const char*> refused[] = {
        {"701-01", "Venda 701-01 já tem NFC-e gerada: não foi recolocada na fila"},
        {"703-01", "Venda 703-01 não encontrada em VendasConclu"},
        {"700-01", "Venda 700-01 já está na fila"}};
    for (const auto& [sale, note] : refused) {
        dashboard.requestRequeue(sale);
        EXPECT_THAT(dashboard.gather(), HasSubstr(std::string("\"note\":\"") + note + "\""));
    }
    EXPECT_FALSE(plausibleSaleCode("700-01' or '1'='1"));
}

// (A justification over 255 characters: the component refuses it before sending, FiscalEventsTest.)
TEST(CancelCommandTest, TheMonitorRefusesWhatThePageShouldHaveRefused) {
    const std::string key = "51260311222333000181650010000012341000012347";
    const std::pair<std::string, const char*> cases[] = {
        {key + " Cliente desistiu da compra", ""},
        {key + "    troca feita    ", "cancelamento não enviado: a justificativa tem 11 caracteres; a SEFAZ exige de 15 a 255"},
        {key + "Cliente desistiu da compra", "chave de acesso inválida: são 44 dígitos, seguidos da justificativa"},
    };
    for (const auto& [argument, problem] : cases) EXPECT_EQ(cancelCommandProblem(argument), problem) << argument;
}

TEST_F(OperatorPanelTest, AnNfceLookedUpShowsItsCancellationWindowAndIsCancelledOnlyBetweenPolls) {
    const std::string key = "51260311222333000181650010000012341000012347";
    monitor.ctx.settings.Environment = "2";
    monitor.ctx.settings.TimeZone = "-04:00";
    folder.setSetting("PrazoCancelamentoMinutos", "45");
    const auto authorisedAt =
        context::shopDateTimeText(monitor.ctx.settings, monitor.clock.utcNow() - std::chrono::minutes(10));
    testing::writeFile(folder.path() + "/nfe/arquivos/procNFe/" + key + "-procNFe.xml",
                       "<nfeProc><NFe><infNFe><ide><tpEmis>1</tpEmis></ide><total><ICMSTot><vNF>35.50</vNF></ICMSTot>"
                       "</total></infNFe></NFe><protNFe><infProt><nProt>151260000012345</nProt><dhRecbto>" +
                           authorisedAt + "</dhRecbto></infProt></protNFe></nfeProc>");
    folder.execute("insert into nfce_gerada (cod_venda, numeronfce, chave, amb) values ('750-01', '1234', '" + key + "', '2')");
    ShopDashboard dashboard(monitor.ctx, folder.path() + "/certificados");
    using ::testing::HasSubstr;
    // (Found by its number, with its amount: the panel's browser journey.)
    const std::pair<std::string, std::string> lookups[] = {
        {key, "\"query\":\"" + key + "\",\"key\":\"" + key + "\",\"number\":\"1234\""},
        {"1234", "\"cancelled\":false,\"window\":45,\"minutesLeft\":35}"},
        {"99", "\"found\":{\"query\":\"99\",\"problem\":\"Nenhuma NFC-e número 99 neste ambiente\"}"},
    };
    for (const auto& [query, expected] : lookups) {
        dashboard.lookUp(query);
        EXPECT_THAT(dashboard.gather(), HasSubstr(expected)) << query;
    }
    // During a batch the cancellation waits; between polls it is sent (here no component can be set up,
    // and the operator is told so).
    monitor.ctx.mainWindow.Timer1.enabled = false;
    dashboard.requestCancel(key, "Cliente desistiu da compra");
    dashboard.requestCancel(key, "Cliente desistiu da compra, de novo");
    dashboard.gather();
    EXPECT_TRUE(dashboard.hasPending());
    EXPECT_EQ(dashboard.lastNote(), "");
    monitor.ctx.mainWindow.Timer1.enabled = true;
    dashboard.gather();
    EXPECT_FALSE(dashboard.hasPending());
    EXPECT_THAT(dashboard.lastNote(), HasSubstr("NFC-e " + key + " não foi cancelada"));
    EXPECT_THAT(testing::readFile(folder.logPath()), HasSubstr("Cancelamento " + key + ": "));
}

// (The end, its status and that status's meaning on the page: the panel's browser journey.)
TEST_F(OperatorPanelTest, TheBoxTheEndFollowsSaysSo) {
    web.messageBox("antiga", platform::MessageStyle::Ok, "");
    web.messageBox("Deseja realmente sair?", platform::MessageStyle::Ok, "");
    panel.ended(99);  // no page is open: nothing to wait for
    EXPECT_THAT(web.stateJson(), ::testing::HasSubstr("\"text\":\"antiga\",\"style\":\"ok\",\"count\":1},"));
    EXPECT_THAT(web.stateJson(), ::testing::HasSubstr("\"text\":\"Deseja realmente sair?\",\"style\":\"ok\",\"count\":1,\"ends\":true}"));
}

TEST_F(OperatorPanelTest, TheFiscalEventsWaitingAreShownInShopTime) {
    auto& ctx = monitor.ctx;
    ctx.settings.Environment = "2";
    ctx.settings.TimeZone = "-04:00";
    fiscal_events::EventJournal journal(ctx);
    journal.addVoid(1, 15, 17, 26, "numeros abandonados", fiscal_events::request_state::kPending);
    const long long voided = journal.addVoid(1, 20, 20, 26, "numeros abandonados", fiscal_events::request_state::kRequested);
    journal.settleVoid(voided, fiscal_events::request_state::kVoided, "102 - Inutilizacao homologada", "151260000000001");
    journal.addVoid(1, 30, 31, 26, "numeros abandonados", fiscal_events::request_state::kRequested);
    folder.execute("update quorvanti_voids set atualizado = '2026-03-05 18:00:00'");
    ShopDashboard dashboard(ctx, folder.path() + "/certificados");
    const std::string json = dashboard.gather();
    using ::testing::HasSubstr;
    EXPECT_THAT(json, HasSubstr("\"voids\":[{\"series\":1,\"from\":15,\"to\":17,\"state\":\"a inutilizar\",\"answer\":\"\","
                                "\"at\":\"05/03/2026 14:00:00\"},{\"series\":1,\"from\":30,\"to\":31,"
                                "\"state\":\"pedida, aguardando a SEFAZ\""));
    EXPECT_THAT(json, HasSubstr("\"from\":20,\"to\":20,\"state\":\"inutilizada\",\"answer\":\"102 - Inutilizacao homologada\""));
}

// The shop's own nfce_gerada (no row identifier, numbers as text) and a queue shared by terminals.
class ShopSchemaTest : public ::testing::TestWithParam<database::DbKind> {};

TEST_P(ShopSchemaTest, TheDashboardReadsTheShopsTablesAndOnlyThisTerminalsQueue) {
    QUORVANTI_SKIP_WITHOUT_MARIADB(GetParam());
    ProgramFolder folder{GetParam()};
    fiscal::UnavailableComponentFactory components;
    TestMonitor monitor{folder, components};
    auto& s = monitor.ctx.settings;
    std::tie(s.SettingsPath, s.LogPath, s.Terminal, s.Contingency, s.TimeZone) =
        std::tuple(folder.settingsPath(), folder.logPath(), "1", "0", "-04:00");
    folder.execute("drop table nfce_gerada");
    folder.execute("create table nfce_gerada (dataG varchar(10), numeronfce varchar(20), cod_venda varchar(30), "
                   "chave varchar(44), cancelada varchar(10), amb varchar(1), protocoloEdata varchar(80), "
                   "CPF_cli varchar(30))");
    const std::string today = context::brazilianDateTimeText(context::shopNow(monitor.ctx)).substr(0, 10);
    const std::string stored = database::dateForStoring(folder.kind(), today, "");
    // Stored as text, "9" sorts after "10"; an older day's higher number is not today's.
    const std::tuple<std::string, std::string, std::string> stores[] = {
        {stored, "9", "900-01"}, {stored, "10", "910-01"}, {"2001-01-01", "11", "911-01"}};
    for (const auto& [date, number, sale] : stores)
        folder.execute("insert into nfce_gerada (dataG, numeronfce, cod_venda, chave, amb) values ('" + date + "', '" +
                       number + "', '" + sale + "', 'K" + number + "', '2')");
    for (const char* sale : {"800-01", "801-02", "802-03"}) folder.queueSale(sale);
    monitor.ctx.db = folder.connect();
    database::upgradeJournal(*monitor.ctx.db);
    startup::chooseQueueSql(monitor.ctx);
    monitor.ctx.mainWindow.Timer1.enabled = true;
    const std::string json = ShopDashboard(monitor.ctx, folder.path() + "/certificados").gather();
    using ::testing::HasSubstr;
    using ::testing::Not;
    EXPECT_THAT(json, ::testing::AllOf(HasSubstr("\"lastNfce\":{\"number\":\"10\",\"sale\":\"910-01\",\"key\":\"K10\""),
                                      HasSubstr("\"today\":2,"), HasSubstr("\"sale\":\"800-01\""), Not(HasSubstr("801-02")),
                                      HasSubstr("\"queued\":1,\"otherTerminals\":2"), Not(HasSubstr("\"error\""))));
}

INSTANTIATE_TEST_SUITE_P(Backends, ShopSchemaTest, testing::bothBackends(), testing::backendName);

TEST(PanelTokenTest, KeptUntilRemovedOrOpenToOthers) {
    testing::TempDir root;
    const std::string file = root.path() + "/painel/token";
    namespace fs = std::filesystem;
    const std::function<void()> spoils[] = {[&] { fs::permissions(file, fs::perms::group_read, fs::perm_options::add); },
                                            [&] { testing::writeFile(file, testing::readFile(file).substr(0, 63)); },
                                            [&] { fs::remove(file); }};
    PanelToken token = panelToken(root.path());
    for (const auto& spoil : spoils) {
        EXPECT_TRUE(token.created);
        keepPanel(root.path(), token, "http://127.0.0.1:8470/");
        EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(panelToken(root.path()).value, token.value);
        EXPECT_FALSE(panelToken(root.path()).created);
        spoil();
        const PanelToken next = panelToken(root.path());
        EXPECT_NE(next.value, token.value);
        token = next;
    }
}

}  // namespace
}  // namespace quorvanti::monitor
