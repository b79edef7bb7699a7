// quorvanti-sefaz as a real process on loopback: the command-line contract, HTTP and HTTPS with client
// certificates, and what a restart keeps. (A scenario file changed while it runs is exercised by the web
// service suite, which changes it under the running program.)
#include <curl/curl.h>
#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sefaz_simulator/command_line.h"
#include "simulator_test_support.h"
#include "support/shared_data.h"
#include "support/sefaz_process.h"

namespace quorvanti::sefaz {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using namespace testsupport;
using fiscal::testsales::Sale;
using testing::readFile;
using testing::writeFile;

using SimulatorProcess = testing::AuthorityProcess;

struct HttpAnswer {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
};

struct ClientCertificate {
    std::string pkcs12;
    std::string password;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

HttpAnswer request(const std::string& url, const std::string& body, const ClientCertificate* client = nullptr,
                   bool tls = false, const std::string& contentType = "application/soap+xml; charset=utf-8",
                   const char* method = "POST") {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    EXPECT_TRUE(initialised);
    CURL* curl = curl_easy_init();
    HttpAnswer answer;
    curl_slist* headers = curl_slist_append(nullptr, ("Content-Type: " + contentType).c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    if (std::string(method) == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    const std::string authority = testing::testAuthorityPem();
    if (tls) curl_easy_setopt(curl, CURLOPT_CAINFO, authority.c_str());
    if (client != nullptr) {
        curl_easy_setopt(curl, CURLOPT_SSLCERT, client->pkcs12.c_str());
        curl_easy_setopt(curl, CURLOPT_SSLCERTTYPE, "P12");
        curl_easy_setopt(curl, CURLOPT_KEYPASSWD, client->password.c_str());
    }
    answer.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return answer;
}

class ProgramTest : public ::testing::Test {
protected:
    std::unique_ptr<SimulatorProcess> start(std::vector<std::string> arguments) {
        auto process = std::make_unique<SimulatorProcess>(arguments, dir.file("sefaz.log"));
        port = process->port();
        EXPECT_GT(port, 0) << process->log();
        return process;
    }
    std::string url(const std::string& service, const char* scheme = "http") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + "/nfcews/services/" + service;
    }

    testing::TempDir dir;
    std::string state = dir.file("estado");
    int port = 0;
};

TEST_F(ProgramTest, ServesOverHttpAndKeepsWhatItAuthorisedAcrossARestart) {
    QUORVANTI_SKIP_WITHOUT_SHARED();
    DocumentMaker maker(dir.file("emitente"));
    const SignedDocument document = maker.make(Sale{});
    auto process = start({"--listen", "127.0.0.1:0", "--state", state, "--schemas", kOfficialSchemas});

    const HttpAnswer status = request(url("NFeStatusServico4"), statusRequest());
    EXPECT_EQ(status.status, 200);
    EXPECT_THAT(status.body, HasSubstr("<cStat>107</cStat>"));
    const HttpAnswer sent = request(url("NFeAutorizacao4"), sendRequest({document.xml}));
    EXPECT_THAT(sent.body, HasSubstr("<cStat>100</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo>"));
    EXPECT_EQ(request(url("NFeCancelamento4"), statusRequest()).status, 404);
    EXPECT_EQ(request(url("NFeStatusServico4"), statusRequest(), nullptr, false, "text/xml").status, 415);
    EXPECT_EQ(request(url("NFeStatusServico4"), "", nullptr, false, "", "GET").status, 405);
    EXPECT_EQ(request(url("NFeStatusServico4"), "<x/>").status, 400);

    EXPECT_EQ(process->finish(SIGTERM), 0) << process->log();
    EXPECT_THAT(process->log(), HasSubstr("NFeAutorizacao4 #1: chNFe " + document.key + " -> 100"));

    process = start({"--listen", "127.0.0.1:0", "--state", state, "--quiet"});
    const HttpAnswer consulted = request(url("NFeConsultaProtocolo4"), consultRequest(document.key));
    EXPECT_THAT(consulted.body, HasSubstr("<cStat>100</cStat>"));
    EXPECT_THAT(consulted.body, HasSubstr("<chNFe>" + document.key + "</chNFe>"));
    EXPECT_EQ(process->finish(SIGINT), 0);
}

TEST_F(ProgramTest, HttpsServesOnlyClientsWithACertificateOfTheConfiguredAuthority) {
    const std::string certificates = testing::testCertificateFolder();
    const std::string scenario = dir.file("cenario.txt");
    writeFile(scenario, "[call NFeStatusServico4 2]\ndrop\n");
    auto process = start({"--listen", "127.0.0.1:0", "--state", state, "--tls", certificates + "/servidor.pem",
                          certificates + "/servidor.key", "--client-ca", testing::testAuthorityPem(), "--scenario",
                          scenario});
    const ClientCertificate shop{certificates + "/loja-teste.pfx", pfxPassword(certificates + "/loja-teste.pfx")};

    const HttpAnswer answered = request(url("NFeStatusServico4", "https"), statusRequest(), &shop, true);
    EXPECT_EQ(answered.code, CURLE_OK) << curl_easy_strerror(answered.code);
    EXPECT_THAT(answered.body, HasSubstr("<cStat>107</cStat>"));

    const HttpAnswer dropped = request(url("NFeStatusServico4", "https"), statusRequest(), &shop, true);
    EXPECT_NE(dropped.code, CURLE_OK);
    EXPECT_EQ(dropped.status, 0);

    const HttpAnswer anonymous = request(url("NFeStatusServico4", "https"), statusRequest(), nullptr, true);
    EXPECT_NE(anonymous.code, CURLE_OK);
    EXPECT_EQ(anonymous.status, 0);
    EXPECT_THAT(anonymous.body, Not(HasSubstr("cStat")));

    const HttpAnswer plain = request(url("NFeStatusServico4"), statusRequest());
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(process->finish(), 0);
}

TEST_F(ProgramTest, RefusesABadCommandLineAnInvalidScenarioAndABusyPort) {
    const std::vector<std::vector<std::string>> usage = {
        {"--listen", "127.0.0.1:0"},
        {"--state", state},
        {"--listen", "127.0.0.1", "--state", state},
        {"--listen", "127.0.0.1:0", "--state", state, "--tls", "a.pem", "a.key"},
        {"--listen", "127.0.0.1:0", "--state", state, "--environment", "3"},
        {"--listen", "127.0.0.1:0", "--state", state, "--uf", "XX"},
        {"--listen", "127.0.0.1:0", "--state", state, "--frobnicate"},
        {"--listen", "127.0.0.1:0", "--state", state, "--clock-tolerance", "-5"},
        {"--listen", "127.0.0.1:0", "--state", state, "--cancel-window", "meia hora"},
    };
    for (const auto& arguments : usage) {
        SimulatorProcess process(arguments, dir.file("uso.log"));
        EXPECT_EQ(process.port(), -1);
        EXPECT_EQ(process.finish(0), 2);
    }
    EXPECT_THAT(readFile(dir.file("uso.log")), HasSubstr("uso: quorvanti-sefaz --listen HOST:PORTA --state PASTA"));

    writeFile(dir.file("ruim.txt"), "[call send 1]\nexplode\n");
    SimulatorProcess badScenario({"--listen", "127.0.0.1:0", "--state", state, "--scenario", dir.file("ruim.txt")},
                                 dir.file("cenario.log"));
    EXPECT_EQ(badScenario.finish(0), 1);
    EXPECT_THAT(readFile(dir.file("cenario.log")), HasSubstr("linha 2: instrução desconhecida \"explode\""));

    auto running = start({"--listen", "127.0.0.1:0", "--state", state});
    SimulatorProcess second({"--listen", "127.0.0.1:" + std::to_string(port), "--state", dir.file("outro")},
                            dir.file("porta.log"));
    EXPECT_EQ(second.finish(0), 1);
    EXPECT_EQ(running->finish(), 0);
}

TEST(SimulatorCommandLine, TheEmissionTimeIsCheckedUnlessTurnedOff) {
    const std::vector<std::string> base{"--listen", "127.0.0.1:0", "--state", "estado"};
    EXPECT_EQ(parseCommandLine(base).clockToleranceMinutes, 5);
    for (const auto& [value, minutes] : {std::pair{"10", 10}, {"0", 0}, {"off", -1}}) {
        std::vector<std::string> arguments = base;
        arguments.insert(arguments.end(), {"--clock-tolerance", value});
        EXPECT_EQ(parseCommandLine(arguments).clockToleranceMinutes, minutes) << value;
    }
}

TEST(SimulatorCommandLine, TheCancellationWindowAndOutOfTimeCancellations) {
    const std::vector<std::string> base{"--listen", "127.0.0.1:0", "--state", "estado"};
    const CommandLine defaults = parseCommandLine(base);
    EXPECT_EQ(std::make_tuple(defaults.cancelWindowMinutes, defaults.lateCancel), std::make_tuple(30, false));
    std::vector<std::string> arguments = base;
    arguments.insert(arguments.end(), {"--cancel-window", "15", "--late-cancel"});
    const CommandLine given = parseCommandLine(arguments);
    EXPECT_EQ(std::make_tuple(given.cancelWindowMinutes, given.lateCancel), std::make_tuple(15, true));
}

}  // namespace
}  // namespace quorvanti::sefaz
