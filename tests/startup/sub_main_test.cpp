#include "startup/sub_main.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <tuple>

#include "database/db_error.h"
#include "fiscal_component/recording_component.h"
#include "fiscal_component/unavailable_component.h"
#include "platform/program_exit.h"
#include "platform/ui/headless_frontend.h"
#include "monitor/parameter_editor.h"
#include "support/program_folder.h"

namespace quorvanti::startup {
namespace {

using database::DbKind;
using testing::ProgramFolder;
using testing::TestMonitor;

// Runs start-up and answers the exit status it ended with (Normal when it returned).
ExitStatus runStartUp(TestMonitor& monitor) {
    return testing::exitStatusOf([&] { SubMain(monitor.ctx); }).value_or(ExitStatus::Normal);
}

class StartUpTest : public ::testing::TestWithParam<DbKind> {
protected:
    void SetUp() override {
        QUORVANTI_SKIP_WITHOUT_MARIADB(GetParam());
        folder = std::make_unique<ProgramFolder>(GetParam());
    }
    std::unique_ptr<ProgramFolder> folder;
    fiscal::UnavailableComponentFactory components;
};

TEST_P(StartUpTest, FillsTheRecordsLeavesTheSettingsAndShowsTheMonitor) {
    folder->setSetting("EnviandoNFCEVenda", "sim");
    TestMonitor monitor(*folder, components);
    ASSERT_EQ(runStartUp(monitor), ExitStatus::Normal);

    const auto& s = monitor.ctx.settings;
    const auto& e = monitor.ctx.emitter;
    EXPECT_EQ(std::make_tuple(folder->setting("TemNFCE_PraGerar"), folder->setting("IDtoken"),
                              folder->setting("EnviandoNFCEVenda"), folder->setting("CertificadoSerie"),
                              monitor.registry.read("nfe", "NoSerieCertificado"),
                              monitor.registry.read("Velantrimexo", "NoSerieCertificado")),
              std::make_tuple("sim", "000001", "", "1A2B3C", "1A2B3C", "1A2B3C"));

    EXPECT_EQ(std::tie(e.State, e.Cnpj, e.TradeName, e.Street, e.CityName, e.CityCode, e.PostalCode, e.Phone,
                       e.StateRegistration),
              std::make_tuple("MT", "11222333000181", "LOJA TESTE", "RUA SAO JOAO", "CUIABA", "5103403", "78000000",
                              "6533334444", "131234567"));
    EXPECT_EQ(std::tie(s.Environment, s.Series, s.TimeZone, s.ContingencyReason, s.LogPath, s.AppFolder),
              std::make_tuple("2", "1", "-04:00", "Sistema WEB inoperante apresentando lentidao",
                              folder->desktop() + "/LOG_NFCE.txt", folder->path() + "/"));

    const auto& w = monitor.ctx.mainWindow;
    EXPECT_EQ(std::tie(w.Label3.caption, w.Label4.caption, w.Label8.caption, w.Label5.caption, w.Label17.caption,
                       w.Check1.caption),
              std::make_tuple("2", "1A2B3C", "AMB:2", "Impressora: EPSON", "-04:00", "Desativar Impressão"));
    // A tray program: it hides itself once shown.
    EXPECT_EQ(std::tie(w.Timer1.interval, w.Timer1.enabled, w.tray.added, w.Check1.checked, w.visible),
              std::make_tuple(std::chrono::milliseconds(3000), true, true, false, false));

    // Without a usable component the operator gets the shutdown dialog, and the set-up reports its own
    // failure; start-up carries on either way.
    EXPECT_EQ(monitor.frontend.dialogsShown(), std::vector<std::string>{"frm_encerrar"});
    ASSERT_EQ(monitor.frontend.messages().size(), 1u);
    EXPECT_EQ(std::tie(monitor.frontend.messages()[0].title, monitor.frontend.messages()[0].style),
              std::make_tuple("ERRO Configura DLL", platform::MessageStyle::OkCritical));
    EXPECT_FALSE(s.ComponentOk);
    EXPECT_TRUE(monitor.captioned("Setando snfe.util ") && monitor.captioned("Configurar DLL SNFE.CONFIG "));

    // The upgrades added their columns; a second start runs them again without harm.
    auto db = folder->connect();
    EXPECT_NO_THROW(db->open("select emailenviou, clienteEmail, cpf_cli from nfce_gerada"));
    EXPECT_NO_THROW(db->open("select Optante from config"));
    // An emitter without municipality but with its state code passes with the default code.
    folder->execute("UPDATE DatEmit SET codmunicipio = NULL, UF = 'mt'");
    monitor.ctx.instanceLock.reset();
    TestMonitor again(*folder, components);
    EXPECT_EQ(runStartUp(again), ExitStatus::Normal);
    EXPECT_EQ(again.ctx.emitter.CityCode, "51");
}

// The emitter checks end the program with their own messages; any other error is shown as "ERRO SUB Main".
TEST_P(StartUpTest, EmitterChecksAndAnyOtherErrorEndTheProgramWithTheirMessages) {
    using platform::MessageStyle;
    const struct {
        const char* update;
        ExitStatus status;
        const char* text;   // the whole message, or the run-time error's text in it
        const char* title;  // nullptr: the default
        MessageStyle style;
    } cases[] = {
        {"UPDATE DatEmit SET CNPJ = NULL", ExitStatus::EmitterCnpjInvalid, "CNPJ invalido", nullptr, MessageStyle::Ok},
        {"UPDATE DatEmit SET UF = ''", ExitStatus::EmitterUfInvalid, "UF invalido", nullptr, MessageStyle::Ok},
        {"UPDATE DatEmit SET codmunicipio = '', CODUF = NULL", ExitStatus::EmitterCodUfInvalid,
         "CODUF invalido do emitente, corrija em dados do emitente.", nullptr, MessageStyle::Ok},
        {"UPDATE config SET Serv_ImpresNFCE = NULL", ExitStatus::StartupError, "Tipos incompatíveis", "ERRO SUB Main",
         MessageStyle::OkCritical},
        {"DELETE FROM DatEmit", ExitStatus::StartupError, "BOF ou EOF é True", "ERRO SUB Main", MessageStyle::OkCritical},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.update);
        ProgramFolder fresh(GetParam());
        fresh.execute(c.update);
        TestMonitor monitor(fresh, components);
        EXPECT_EQ(runStartUp(monitor), c.status);
        ASSERT_FALSE(monitor.frontend.messages().empty());
        const auto& shown = monitor.frontend.messages().back();
        EXPECT_EQ(std::tie(shown.title, shown.style),
                  std::make_tuple(c.title ? c.title : platform::kDefaultMessageTitle, c.style));
        EXPECT_NE(shown.text.find(c.text), std::string::npos) << shown.text;
        EXPECT_FALSE(monitor.ctx.mainWindow.Timer1.enabled);
    }
}

// Each change adds to the ones before it; the query chosen is run on a queue holding a row of each kind.
TEST_P(StartUpTest, ChoosesTheQueueOfTheTerminalAndMode) {
    // A sale of terminal 1 and one of terminal 3; a contingency row of terminal 3 waiting for its document;
    // a contingency document of terminal 5 stored for the sender.
    folder->execute("INSERT INTO TabNCEAEnviar (codvenda, enviada, dataV, corpoXML, caminhoXMLcontigencia, "
                    "DataContigencia, Serv_ImpresNFCE) VALUES ('1-01', 'enviar', '2026-03-05', '', '', '', ''), "
                    "('1-03', 'enviar', '2026-03-05', '', '', '', ''), ('2-03', 'enviar', '2026-03-05', '', '1', "
                    "'2026-03-05T14:00:00-04:00', '3'), ('3-05', 'enviar', '2026-03-05', '<NFe/>', "
                    "'/loja/nfe/arquivos/assinado/NFe1-assinado.xml', '2026-03-05T14:00:00-04:00', '5'), "
                    "('4-03', 'enviada', '2026-03-05', '', '', '', '')");
    const struct {
        const char* name;
        std::function<void()> change;
        std::set<std::string> selected;
    } cases[] = {
        {"terminal 3, normal mode", [&] { folder->setSetting("NTerminal", "3"); }, {"1-03", "2-03"}},
        {"terminal 03 in contingency",
         [&] {
             folder->setSetting("NTerminal", "03");
             folder->setSetting("Contigencia", "1");
         },
         {"2-03"}},
        {"print server", [&] { folder->execute("UPDATE config SET Serv_ImpresNFCE = 1"); },
         {"1-01", "1-03", "2-03", "3-05"}},
        {"contingency sender, which leaves the point-of-sale marker alone",
         [&] {
             folder->setSetting("EnviadorDeContigencia", "1");
             folder->setSetting("EnviandoNFCEVenda", "sim");
         },
         {"3-05"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.change();
        TestMonitor monitor(*folder, components);
        ASSERT_EQ(runStartUp(monitor), ExitStatus::Normal);
        std::set<std::string> selected;
        for (auto rows = folder->connect()->open(monitor.ctx.settings.QueueSql); !rows.eof(); rows.moveNext())
            selected.insert(rows.field("codvenda").text());
        EXPECT_EQ(selected, c.selected);
        if (&c == &cases[1]) {
            EXPECT_EQ(monitor.ctx.mainWindow.Timer1.interval, std::chrono::milliseconds(1000));
        }
    }
    EXPECT_EQ(folder->setting("EnviandoNFCEVenda"), "sim");
}

INSTANTIATE_TEST_SUITE_P(Backends, StartUpTest, testing::bothBackends(), testing::backendName);

class StartUpSettingsTest : public ::testing::Test {
protected:
    ProgramFolder folder{DbKind::Sqlite};
    fiscal::UnavailableComponentFactory components;
};

TEST_F(StartUpSettingsTest, DefaultsForBlankSettingsTheLocalFileUnlessMysqlAndOneInstanceOnly) {
    folder.setSetting("FUSO", "   ");
    folder.setSetting("ambienteNFCE", "1");
    folder.setSetting("ImprimiNFCESistema", "1");
    folder.execute("UPDATE DatEmit SET UF = 'mt', codmunicipio = '   ', CODUF = '51'");
    TestMonitor monitor(folder, components);
    ASSERT_EQ(runStartUp(monitor), ExitStatus::Normal);
    EXPECT_EQ(std::tie(monitor.ctx.settings.TimeZone, monitor.ctx.settings.Environment, monitor.ctx.emitter.CityCode,
                       monitor.ctx.mainWindow.Check1.checked, monitor.ctx.mainWindow.Check1.caption),
              std::make_tuple("-04:00", "1", "51", true, "Ativar Impressão"));

    // MySQL spelled otherwise selects the local file.
    folder.setSetting("FUSO", "-03:00");
    folder.setSetting("TipoConexao_BD", "MySQL");
    monitor.ctx.instanceLock.reset();
    TestMonitor second(folder, components);
    ASSERT_EQ(runStartUp(second), ExitStatus::Normal);
    EXPECT_EQ(std::tie(second.ctx.settings.TimeZone, second.ctx.settings.DateQuote), std::make_tuple("-03:00", "'"));
    EXPECT_EQ(second.ctx.db->kind(), DbKind::Sqlite);

    // While it runs, a second instance ends silently.
    TestMonitor third(folder, components);
    EXPECT_EQ(runStartUp(third), ExitStatus::AnotherInstanceRunning);
    EXPECT_TRUE(third.frontend.messages().empty());
}

// A setting outside its domain would send documents to the wrong environment or fail every sale: the
// program stops for the editor before it touches the settings, the database or the queue.
TEST_F(StartUpSettingsTest, ASettingOutsideItsDomainStopsForTheEditor) {
    const std::pair<const char*, const char*> cases[] = {
        {"ambienteNFCE", "abc"}, {"ambienteNFCE", "0"},      {"ambienteNFCE", "3"}, {"IDtoken", "1A"},
        {"IDtoken", "0000001"},  {"IDtoken", "000000"},      {"serie", "A1"},       {"serie", "1000"},
        {"NTerminal", "T1"},     {"LimiteNfce", "5,000.00"}, {"LimiteNfce", "0"},  {"JustificaContigencia", "sem rede"},
        {"FUSO", "-4"},          {"FUSO", "America/Cuiaba"}, {"FUSO", "Z"},         {"FUSO", "-04:30"},
        {"FUSO", "-12:00"},      {"FUSO", "+13:00"},
    };
    for (const auto& [key, value] : cases) {
        SCOPED_TRACE(std::string(key) + "=" + value);
        ProgramFolder fresh(DbKind::Sqlite);
        fresh.setSetting(key, value);
        TestMonitor monitor(fresh, components);
        EXPECT_EQ(runStartUp(monitor), ExitStatus::SettingsMissing);
        ASSERT_EQ(monitor.frontend.messages().size(), 1u);
        EXPECT_NE(monitor.frontend.messages()[0].text.find(std::string("\"") + key + "\" = \"" + value + "\" inválida"),
                  std::string::npos)
            << monitor.frontend.messages()[0].text;
        EXPECT_EQ(monitor.frontend.dialogsShown(), std::vector<std::string>{"frm_ini"});
        EXPECT_EQ(fresh.setting("TemNFCE_PraGerar"), "");
    }
    // Values within their domains pass, a limit in the shop's form included.
    folder.setSetting("LimiteNfce", "5.000,00");
    folder.setSetting("serie", "0");
    folder.setSetting("IDtoken", "12");
    for (const char* fuso : {"-11:00", "+12:00"}) {
        folder.setSetting("FUSO", fuso);
        TestMonitor monitor(folder, components);
        EXPECT_EQ(runStartUp(monitor), ExitStatus::Normal) << fuso;
    }
}

TEST_F(StartUpSettingsTest, MissingRequiredSettingsRunTheRegistrationOnceAndOpenTheEditor) {
    folder.removeSetting("CSC");
    testing::writeFile(folder.path() + "/ParaApagar.txt", "x");
    TestMonitor monitor(folder, components);
    EXPECT_EQ(runStartUp(monitor), ExitStatus::SettingsMissing);
    EXPECT_EQ(monitor.shell.runs, std::vector<std::string>{folder.path()});
    EXPECT_FALSE(std::filesystem::exists(folder.path() + "/ParaApagar.txt"));
    EXPECT_EQ(monitor.frontend.dialogsShown(), std::vector<std::string>{"frm_ini"});
    EXPECT_EQ(folder.setting("TemNFCE_PraGerar"), "");  // nothing else of start-up ran

    // Unattended, the editor says what is missing and where to set it.
    std::ostringstream journal;
    platform::HeadlessFrontend headless(journal);
    monitor::ParameterEditor editor(monitor.ctx);
    headless.showModal(editor);
    EXPECT_NE(journal.str().find("\"CSC\""), std::string::npos) << journal.str();
    EXPECT_NE(journal.str().find(folder.settingsPath()), std::string::npos);
    EXPECT_TRUE(editor.closed());
    EXPECT_EQ(folder.setting("CSC"), "");

    // Completed in the editor (as the panel's operator saves it): start-up goes on instead of ending.
    monitor.ctx.instanceLock.reset();
    TestMonitor completed(folder, components);
    completed.frontend.onDialog("frm_ini", [&](platform::Dialog&) { folder.setSetting("CSC", "CSC-DA-LOJA"); });
    EXPECT_EQ(runStartUp(completed), ExitStatus::Normal);
    EXPECT_EQ(folder.setting("TemNFCE_PraGerar"), "sim");
}

TEST_F(StartUpSettingsTest, AUsableComponentIsConfiguredForTheModeWithoutTheShutdownDialog) {
    folder.setSetting("Contigencia", "1");
    fiscal::RecordingComponentFactory recording;
    TestMonitor monitor(folder, recording);
    ASSERT_EQ(runStartUp(monitor), ExitStatus::Normal);
    EXPECT_TRUE(monitor.frontend.dialogsShown().empty() && monitor.frontend.messages().empty());
    EXPECT_TRUE(monitor.ctx.settings.ComponentOk);
    const auto configure = recording.state().callsOf("configure");
    ASSERT_EQ(configure.size(), 1u);
    const auto& args = std::get<fiscal::ConfigurationArgs>(configure[0].args);
    EXPECT_EQ(args.tpEmis + "|" + args.certificateSerial, "9|1A2B3C");
    // The status query ran on its own instance, before any configuration.
    EXPECT_EQ(recording.state().operations().front(), "statusQuery");
}

TEST_F(StartUpSettingsTest, AMariaDbConnectionFailureShowsItsMessageWithoutThePassword) {
    folder.setSetting("TipoConexao_BD", "mysql");
    folder.setSetting("host", "/nonexistent/mysqld.sock", "Conexao");
    folder.setSetting("usuarioD", "loja", "Conexao");
    folder.setSetting("Senha", "s3gr3d0-da-loja", "Conexao");
    TestMonitor monitor(folder, components);
    EXPECT_EQ(runStartUp(monitor), ExitStatus::DatabaseConnectionFailed);
    ASSERT_EQ(monitor.frontend.messages().size(), 1u);
    EXPECT_EQ(monitor.frontend.messages()[0].text,
              "Houve erro de conexão, com a base de dados verifique erro(GRT7391)\r\n"
              "Tente reabrir o módulo administrativo primeiro");
}

}  // namespace
}  // namespace quorvanti::startup
