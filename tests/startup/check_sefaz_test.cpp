// `quorvanti --check-sefaz` on a shop served by the local SEFAZ over HTTPS, the certificate's password a
// service credential instead of the file beside it: trusting the server's issuer, then another authority.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/credentials.h"
#include "support/env_guard.h"
#include "support/monitor_process.h"
#include "support/program_folder.h"
#include "support/sefaz_process.h"
#include "support/temp_dir.h"

namespace quorvanti::startup {
namespace {

using namespace ::testing;
using namespace quorvanti::testing;

TEST(CheckSefazTest, OneLinePerServiceOkWhenTrustedAndNamingTheIssuerWhenNot) {
    ProgramFolder folder(database::DbKind::Sqlite);
    const std::string passwordFile = installTestSigner(folder) + "/loja-teste.pfx.senha";
    const auto authority = startShopAuthority(folder, "");
    ASSERT_GT(authority->port(), 0) << authority->log();
    const std::string credentials = folder.path() + "/../credenciais", other = folder.path() + "/../outra-ac.pem";
    const std::string password = readFile(passwordFile);
    std::filesystem::create_directory(credentials);
    std::filesystem::rename(passwordFile, credentials + "/quorvanti-certificado-senha");
    EnvGuard env;
    env.set(platform::kCredentialsDirectoryVariable, credentials);
    const auto line = [&](const std::string& service, const std::string& outcome) {
        return MatchesRegex("\\[MT_2\\] " + service + " https://127\\.0\\.0\\.1:" + std::to_string(authority->port()) +
                            "/nfcews/services/" + service + ": " + outcome);
    };

    const MonitorRun trusted = runMonitor(folder, {}, {.arguments = {"--check-sefaz"}});
    EXPECT_EQ(trusted.status, 0) << trusted.output;
    EXPECT_THAT(messageLines(trusted.output, "[MT_2] "),
                ElementsAre(line("NFeAutorizacao4", "OK"), line("NFeRetAutorizacao4", "OK"),
                            line("NFeConsultaProtocolo4", "OK"), line("NFeStatusServico4", "OK \\(107 .*\\)"),
                            line("NFeRecepcaoEvento4", "OK"), line("NFeInutilizacao4", "OK")));
    EXPECT_THAT(trusted.output, Not(HasSubstr(password.substr(0, password.find('\n')))));

    commandOutput("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=Outra "
                  "-keyout " + other + ".key -out " + other + " 2>/dev/null");
    writeFile(folder.path() + "/nfe/webservices.ini", webServicesIni(authority->port(), other));
    const MonitorRun untrusted = runMonitor(folder, {}, {.arguments = {"--check-sefaz"}});
    EXPECT_EQ(untrusted.status, 32) << untrusted.output;
    EXPECT_THAT(messageLines(untrusted.output, "[MT_2] "),
                AllOf(SizeIs(6), Each(AllOf(line("NFe[A-Za-z]+4", "9003 .* não é confiável.*"),
                                            HasSubstr("arquivo " + other),
                                            HasSubstr("emitido por CN=AC\u00A0QUORVANTI\u00A0TESTE"),
                                            HasSubstr("chave CA da seção [TLS] de nfe/webservices.ini")))));
}

}  // namespace
}  // namespace quorvanti::startup
