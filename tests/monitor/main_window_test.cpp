#include "monitor/main_window.h"

#include <gtest/gtest.h>

#include "fiscal_component/recording_component.h"
#include "fiscal_component/unavailable_component.h"
#include "monitor/parameter_editor.h"
#include "monitor/shutdown_dialog.h"
#include "platform/program_exit.h"
#include "support/program_folder.h"

namespace quorvanti::monitor {
namespace {

using testing::ProgramFolder;
using testing::TestMonitor;

class WindowsTest : public ::testing::Test {
protected:
    WindowsTest() { monitor.ctx.settings.SettingsPath = folder.settingsPath(); }
    ProgramFolder folder{database::DbKind::Sqlite};
    fiscal::UnavailableComponentFactory components;
    TestMonitor monitor{folder, components};
};

TEST_F(WindowsTest, ThePrintCheckBoxWritesTheSettingAndNamesTheNextClick) {
    monitor.ctx.settings.PrintingOff = "0";
    initCheck1(monitor.ctx);
    Check1_Click(monitor.ctx);
    EXPECT_EQ(folder.setting("ImprimiNFCESistema"), "1");
    EXPECT_EQ(monitor.ctx.mainWindow.Check1.caption, "Ativar impressão");
    Check1_Click(monitor.ctx);
    EXPECT_EQ(folder.setting("ImprimiNFCESistema"), "0");
    EXPECT_EQ(monitor.ctx.mainWindow.Check1.caption, "Desativar impressão");
}

TEST_F(WindowsTest, CertificateSelectionFailureOffersTheRegistrationScript) {
    // The stand-in component's selector cannot work: the operator is told and the script is started.
    EXPECT_FALSE(seleciona_cert(monitor.ctx));
    ASSERT_EQ(monitor.frontend.messages().size(), 1u);
    EXPECT_EQ(monitor.frontend.messages()[0].text,
              "Houve um erro Componente fiscal não instalado\r\nVerifique se o arquivo registraDLL.bat foi "
              "executado\r\nO sistema tentara registrar a DLL");
    EXPECT_EQ(monitor.shell.runs.size(), 1u);
}

TEST_F(WindowsTest, TheParameterEditorCompletesEmptyBoxesFromConfiguracaoXmlAndSaves) {
    folder.removeSetting("CSC");
    folder.removeSetting("IDtoken");
    folder.removeSetting("ambienteNFCE");
    // Without configuracao.xml, or with a broken one, the boxes stay empty instead of failing.
    ParameterEditor bare(monitor.ctx);
    EXPECT_NO_THROW(bare.load());
    EXPECT_EQ(bare.model().tx[1].text, "");
    testing::writeFile(folder.path() + "/configuracao.xml", "<cfg><CSC>ABC</cfg>");
    EXPECT_EQ(retorna_tag(folder.path(), "<CSC>", "</CSC>"), "");
    EXPECT_EQ(retorna_tag(folder.path(), "<Serial>", "</Serial>"), "");

    testing::writeFile(folder.path() + "/configuracao.xml",
                       "<cfg><CSC>ABC</CSC><Serial>999</Serial><cIdToken>000002</cIdToken></cfg>");
    ParameterEditor editor(monitor.ctx);
    editor.load();
    const auto& boxes = editor.model().tx;  // the serial is set in the settings file: the file wins
    EXPECT_EQ(boxes[0].text + "|" + boxes[1].text + "|" + boxes[2].text + "|" + boxes[3].text, "1|ABC|1A2B3C|000002");
    EXPECT_EQ(editor.controls()[1].second, "***");  // the CSC is never shown

    // A value outside its domain is shown and nothing is saved.
    const std::pair<std::string, std::string> refused[] = {{"ambienteNFCE", "3"}, {"IDtoken", "1A"}};
    for (const auto& [box, value] : refused) {
        editor.typeText(box, value);
        editor.click("Command1");
        EXPECT_FALSE(editor.closed());
        EXPECT_NE(monitor.frontend.messages().back().text.find(box), std::string::npos);
        EXPECT_EQ(folder.setting("CSC"), "");
        editor.typeText(box, box == "IDtoken" ? "000002" : "1");
    }
    editor.typeText("ambienteNFCE", "2");
    editor.click("Command1");
    EXPECT_TRUE(editor.closed());
    EXPECT_EQ(monitor.frontend.messages().back().text, "Gravado");
    EXPECT_EQ(folder.setting("ambienteNFCE"), "2");
    EXPECT_EQ(folder.setting("CSC"), "ABC");
    EXPECT_EQ(folder.setting("IDtoken"), "000002");
}

TEST(ShutdownDialogTest, StatusCheckAndCertificateChoiceThroughTheComponentThenCloseOrEnd) {
    ProgramFolder folder(database::DbKind::Sqlite);
    fiscal::RecordingComponentFactory components;
    TestMonitor monitor(folder, components);
    monitor.ctx.settings.SettingsPath = folder.settingsPath();
    components.script().serviceStatus = {107, "Servico em Operacao"};

    ShutdownDialog dialog(monitor.ctx);
    dialog.load();
    dialog.click("Command3");
    ASSERT_EQ(monitor.frontend.messages().size(), 1u);
    EXPECT_EQ(monitor.frontend.messages()[0].title, "STATUS WS");
    EXPECT_EQ(monitor.frontend.messages()[0].text, "107 - Servico em Operacao");
    EXPECT_EQ(components.state().callsOf("serviceStatus").size(), 1u);

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
    const auto& shown = monitor.frontend.messages();
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown[shown.size() - 2].text, "LOJA TESTE LTDA\r\n0A1B2C\r\n01/01/2036");
    EXPECT_EQ(shown.back().text, "LOJA TESTE LTDA");
    EXPECT_FALSE(dialog.closed());

    // Escape closes it; Command1 ends only this program.
    dialog.keyPress("", 27);
    EXPECT_TRUE(dialog.closed());
    dialog.load();
    EXPECT_EQ(testing::exitStatusOf([&] { dialog.click("Command1"); }), ExitStatus::Normal);
}

}  // namespace
}  // namespace quorvanti::monitor
