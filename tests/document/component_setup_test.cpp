#include "document/component_setup.h"

#include <gtest/gtest.h>

#include <tuple>

#include "fiscal_component/recording_component.h"
#include "support/program_folder.h"

namespace quorvanti::document {
namespace {

using fiscal::ConfigurationArgs;
using fiscal::DanfeLogoArgs;
using fiscal::MailSettingsArgs;

class ComponentSetupTest : public ::testing::Test {
protected:
    ComponentSetupTest() {
        auto& s = monitor.ctx.settings;
        s.SettingsPath = folder.settingsPath();
        s.AppPath = folder.path();
        s.ComponentCertificateSerial = "1A2B3C";
        s.Environment = "2";
        s.CscId = "12";
        s.Csc = "0123456789ABCDEF0123456789ABCDEF";
        monitor.ctx.emitter.State = "MT";
        monitor.ctx.emitter.Cnpj = "11222333000181";
        monitor.ctx.emitter.TradeName = "LOJA TESTE";
    }
    testing::ProgramFolder folder{database::DbKind::Sqlite};
    fiscal::RecordingComponentFactory components;
    testing::TestMonitor monitor{folder, components};
};

TEST_F(ComponentSetupTest, ConfiguresAFreshInstanceWithEveryValueTheCscIdPadded) {
    folder.setSetting("LogoNFE", "/opt/loja/logo.bmp");
    std::unique_ptr<fiscal::FiscalComponent> component;
    ASSERT_TRUE(ConfigurarDLL(monitor.ctx, 65, "9", component));
    ASSERT_NE(component, nullptr);
    EXPECT_EQ(components.state().operations(),
              (std::vector<std::string>{"configure", "mailSettings", "danfeLogo", "finish"}));

    const auto configure = std::get<ConfigurationArgs>(components.state().callsOf("configure")[0].args);
    EXPECT_EQ(std::tie(configure.reserved1, configure.certificateSerial, configure.documentFolder, configure.schemaFolder,
                       configure.uf, configure.model, configure.layoutUse, configure.timeoutMs, configure.tpAmb,
                       configure.tpEmis, configure.tpImp, configure.cnpj, configure.cscId, configure.csc),
              std::make_tuple("", "1A2B3C", folder.path() + "/nfe/", folder.path() + "/nfe/schemas", "MT", 65, "1",
                              "30000", 2, "9", 4, "11222333000181", "000012", "0123456789ABCDEF0123456789ABCDEF"));

    const auto mail = std::get<MailSettingsArgs>(components.state().callsOf("mailSettings")[0].args);
    EXPECT_EQ(std::tie(mail.port, mail.timeoutMs, mail.senderName), std::make_tuple(587, 30000, "LOJA TESTE"));
    const auto logo = std::get<DanfeLogoArgs>(components.state().callsOf("danfeLogo")[0].args);
    EXPECT_EQ(std::tie(logo.logoPath, logo.value6, logo.value7), std::make_tuple("/opt/loja/logo.bmp", 3, 2));
    EXPECT_EQ(monitor.ctx.settings.AppFolder, folder.path() + "/");
    // The CSC identifier is padded to six characters.
    EXPECT_EQ(paddedCscId("12"), "000012");
    EXPECT_EQ(paddedCscId("1"), "000001");
    EXPECT_EQ(paddedCscId("0000001"), "000001");
    EXPECT_EQ(paddedCscId("  7"), "000007");
}

TEST_F(ComponentSetupTest, OnlyTheLastStatusSurvivesAndAFailureLeavesTheCallersInstance) {
    components.script().statuses["finish"] = false;
    std::unique_ptr<fiscal::FiscalComponent> component;
    EXPECT_TRUE(ConfigurarDLL(monitor.ctx, 65, "1", component));
    EXPECT_FALSE(monitor.ctx.settings.ComponentOk);

    components.script().statuses.clear();
    components.script().failures["mailSettings"] = "certificado não encontrado";
    fiscal::FiscalComponent* before = component.get();
    EXPECT_FALSE(ConfigurarDLL(monitor.ctx, 65, "1", component));
    EXPECT_EQ(component.get(), before);
    ASSERT_EQ(monitor.frontend.messages().size(), 1u);
    EXPECT_EQ(monitor.frontend.messages()[0].title, "ERRO Configura DLL");
    EXPECT_EQ(monitor.frontend.messages()[0].text, "certificado não encontrado");
    EXPECT_EQ(monitor.frontend.messages()[0].style, platform::MessageStyle::OkCritical);
}

}  // namespace
}  // namespace quorvanti::document
