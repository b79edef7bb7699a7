// `quorvanti --check-sefaz` as an operator runs it: the real executable on a shop whose services are the
// local SEFAZ over HTTPS, with the certificate's password given as a service credential instead of the
// file beside it; first trusting the authority that issued the server's certificate, then another.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/program_folder.h"
#include "support/sefaz_process.h"
#include "support/temp_dir.h"

namespace quorvanti::startup {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

struct CheckRun {
    int status = -1;
    std::vector<std::string> lines;  // standard output
    std::string everything;          // with standard error
};

CheckRun checkSefaz(const testing::ProgramFolder& folder, const std::string& credentials) {
    const std::string errors = folder.path() + "/../check-stderr.txt";
    const std::string command = "CREDENTIALS_DIRECTORY=" + credentials + " " + QUORVANTI_BINARY_DIR +
                                "/quorvanti --app-dir " + folder.path() + " --registry " + folder.registryFile() +
                                " --check-sefaz 2>" + errors;
    CheckRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[8192];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        std::string line(buffer);
        run.everything += line;
        if (!line.empty() && line.back() == '\n') line.pop_back();
        run.lines.push_back(line);
    }
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.everything += testing::readFile(errors);
    return run;
}

TEST(CheckSefazTest, OneLinePerServiceOkWhenTrustedAndNamingTheIssuerWhenNot) {
    testing::ProgramFolder folder(database::DbKind::Sqlite);
    const std::string store = testing::installTestSigner(folder);
    const auto authority = testing::startShopAuthority(folder, "");
    ASSERT_GT(authority->port(), 0) << authority->log();
    const std::string server = "127\\.0\\.0\\.1:" + std::to_string(authority->port());

    // The password leaves the disk for the service's credentials.
    const std::string credentials = folder.path() + "/../credenciais";
    ASSERT_EQ(::mkdir(credentials.c_str(), 0700), 0);
    const std::string password = testing::readFile(store + "/loja-teste.pfx.senha");
    testing::writeFile(credentials + "/quorvanti-certificado-senha", password);
    ASSERT_EQ(std::remove((store + "/loja-teste.pfx.senha").c_str()), 0);

    const CheckRun trusted = checkSefaz(folder, credentials);
    EXPECT_EQ(trusted.status, 0) << trusted.everything;
    const auto line = [&](const std::string& service, const std::string& outcome) {
        return MatchesRegex("\\[MT_2\\] " + service + " https://" + server + "/nfcews/services/" + service + ": " + outcome);
    };
    EXPECT_THAT(trusted.lines, ElementsAre(line("NFeAutorizacao4", "OK"), line("NFeRetAutorizacao4", "OK"),
                                           line("NFeConsultaProtocolo4", "OK"),
                                           line("NFeStatusServico4", "OK \\(107 .*\\)")))
        << trusted.everything;
    EXPECT_THAT(trusted.everything, Not(HasSubstr(password.substr(0, password.find('\n')))));

    // Another authority trusted: the server cannot be verified, and each line says by whom it was issued
    // and what to set.
    const std::string other = folder.path() + "/../outra-ac.pem";
    testing::commandOutput("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj "
                           "/CN=Outra -keyout " + other + ".key -out " + other + " 2>/dev/null");
    testing::writeFile(folder.path() + "/nfe/webservices.ini", testing::webServicesIni(authority->port(), other));
    const CheckRun untrusted = checkSefaz(folder, credentials);
    EXPECT_EQ(untrusted.status, 32) << untrusted.everything;
    ASSERT_EQ(untrusted.lines.size(), 4u) << untrusted.everything;
    for (const std::string& text : untrusted.lines)
        EXPECT_THAT(text, AllOf(line("NFe[A-Za-z]+4", "9003 .*"),
                                HasSubstr("o certificado do servidor 127.0.0.1:" + std::to_string(authority->port()) +
                                          " não é confiável"),
                                HasSubstr("emitido por CN=AC\u00A0QUORVANTI\u00A0TESTE"), HasSubstr("arquivo " + other),
                                HasSubstr("chave CA da seção [TLS] de nfe/webservices.ini")));
}

}  // namespace
}  // namespace quorvanti::startup
