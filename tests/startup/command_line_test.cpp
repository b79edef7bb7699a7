// The monitor as an operator or a service manager starts it: the real executable on a program folder.
#include "startup/command_line.h"

#include <gtest/gtest.h>

#include <httplib.h>

#include <chrono>
#include <csignal>
#include <string>

#include "support/monitor_process.h"
#include "support/program_folder.h"
#include "support/temp_dir.h"

namespace quorvanti::startup {
namespace {

using testing::MonitorRun;
using testing::runMonitor;

TEST(CommandLineTest, OnceWithAnEmptyQueueEndsNormally) {
    testing::ProgramFolder folder(database::DbKind::Sqlite);
    // On a clock a hundred times faster the first poll comes after 30 ms instead of 3 s.
    const MonitorRun run = runMonitor(folder, {}, {.timeScale = "0.01"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("[frmEmitirNFCe] hidden"), std::string::npos) << run.output;
    EXPECT_EQ(folder.setting("TemNFCE_PraGerar"), "sim");
    // The consumer security code is a secret: it never reaches the journal.
    EXPECT_EQ(run.output.find("0123456789ABCDEF"), std::string::npos);
}

TEST(CommandLineTest, StopsEndWithTheirOwnStatus) {
    testing::ProgramFolder folder(database::DbKind::Sqlite);
    folder.removeSetting("CertificadoSerie");
    MonitorRun run = runMonitor(folder);
    EXPECT_EQ(run.status, 4) << run.output;
    EXPECT_NE(run.output.find("\"CertificadoSerie\""), std::string::npos) << run.output;

    run = runMonitor(folder, {}, {.arguments = {"--no-such-option"}});
    EXPECT_EQ(run.status, 64);
    EXPECT_NE(run.output.find("uso: quorvanti"), std::string::npos);

    // Set after the run's own scale, so that it wins.
    run = runMonitor(folder, {}, {.environment = {"QUORVANTI_TIME_SCALE=0,01"}});
    EXPECT_EQ(run.status, 64);
    EXPECT_NE(run.output.find("QUORVANTI_TIME_SCALE inválida: \"0,01\""), std::string::npos) << run.output;
}

TEST(CommandLineTest, ThePanelsAddressWithItsTokenIsJournalledOnlyWhenTheTokenIsMadeAndOnRequest) {
    testing::ProgramFolder folder(database::DbKind::Sqlite);
    const testing::MonitorOptions panelUrl{.arguments = {"--panel-url"}};
    MonitorRun url = runMonitor(folder, {}, panelUrl);
    EXPECT_EQ(url.status, 64) << url.output;
    // Each run is stopped as a service is, once the panel has told its address.
    const testing::MonitorOptions web{.arguments = {"--frontend", "web"}, .limit = std::chrono::seconds(60)};
    const testing::MonitorWatch stopAtPanel = [](testing::MonitorRun& run, const std::string& line) {
        if (line.rfind("[painel]", 0) == 0) run.signal(SIGTERM);
    };
    const MonitorRun first = runMonitor(folder, stopAtPanel, web);
    const std::string token = testing::readFile(folder.path() + "/painel/token").substr(0, 64);
    EXPECT_NE(first.output.find("/?token=" + token + "\n"), std::string::npos) << first.output;
    // Started again: the same token, so an open page keeps working; the journal shows the address alone.
    const MonitorRun second = runMonitor(folder, stopAtPanel, web);
    EXPECT_EQ(second.output.find(token), std::string::npos) << second.output;
    EXPECT_NE(second.output.find("--panel-url)"), std::string::npos) << second.output;
    url = runMonitor(folder, {}, panelUrl);
    EXPECT_EQ(url.status, 0) << url.output;
    EXPECT_EQ(url.output.rfind("http://127.0.0.1:", 0), 0u) << url.output;
    EXPECT_TRUE(url.output.ends_with("/?token=" + token + "\n")) << url.output;
}

TEST(CommandLineTest, ASecondMonitorOnATakenPanelPortEndsWithItsOwnStatus) {
    testing::ProgramFolder folder(database::DbKind::Sqlite);
    httplib::Server first;  // another panel: sharing its port would split the page's requests
    const std::string address = "127.0.0.1:" + std::to_string(first.bind_to_any_port("127.0.0.1"));
    const MonitorRun run = runMonitor(folder, {}, {.arguments = {"--frontend", "web", "--once", "--listen", address}});
    EXPECT_EQ(run.status, 15) << run.output;
    EXPECT_NE(run.output.find("o painel não pode escutar em " + address + ": o endereço já está em uso"), std::string::npos)
        << run.output;
}

TEST(CommandLineTest, ParsesEveryOption) {
    std::string error;
    // (--app-dir, --desktop-dir, --registry, --frontend and --once are read by every run of the real
    // monitor in these suites.)
    const auto line = parseCommandLine({"--cert-dir", "/tmp/c", "--answer-yes-no", "no"}, error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->certificateDir, "/tmp/c");
    EXPECT_FALSE(line->answerYes);
    EXPECT_FALSE(parseCommandLine({"--app-dir"}, error));
    EXPECT_FALSE(parseCommandLine({"--frontend", "gtk"}, error));

    // The panel: loopback by default; another address only with TLS; its options only with it.
    const auto web = parseCommandLine({"--frontend", "web", "--listen", "[::1]:8080", "--tls", "c.pem", "k.pem"}, error);
    ASSERT_TRUE(web) << error;
    EXPECT_EQ(web->listenHost + "|" + std::to_string(web->listenPort) + "|" + web->tlsCertificate + "|" + web->tlsKey,
              "::1|8080|c.pem|k.pem");
    for (const std::vector<std::string>& refused :
         {std::vector<std::string>{"--frontend", "web", "--listen", "0.0.0.0:8080"},
          {"--frontend", "web", "--listen", "127.0.0.1:65536"},
          {"--frontend", "web", "--listen", "8080"},
          {"--listen", "127.0.0.1:8080"},
          {"--frontend", "web", "--panel-name", "caixa,"},
          {"--frontend", "web", "--panel-name", "https://caixa.loja"},
          {"--panel-url", "--reprint", std::string(44, '1')},
          {"--cancel", std::string(44, '1')},
          {"--void", "5", "x", "--reason", "Numeracao pulada por falha"},
          {"--void", "0", "3", "--reason", "Numeracao pulada por falha"},
          {"--reason", "Numeracao pulada por falha"}})
        EXPECT_FALSE(parseCommandLine(refused, error)) << refused[refused.size() - 1];
    EXPECT_TRUE(parseCommandLine({"--frontend", "web", "--listen", "192.168.0.5:8443", "--tls", "c", "k"}, error));
    const auto voiding = parseCommandLine({"--void", "5", "999999999", "--reason", "Numeracao pulada"}, error);
    ASSERT_TRUE(voiding) << error;
    EXPECT_EQ(std::to_string(voiding->voidFrom) + "-" + std::to_string(voiding->voidTo), "5-999999999");
    const auto named =
        parseCommandLine({"--frontend", "web", "--panel-name", "caixa.loja,192.168.0.5", "--panel-name", "[fe80::1]"}, error);
    ASSERT_TRUE(named) << error;
    EXPECT_EQ(named->panelNames, (std::vector<std::string>{"caixa.loja", "192.168.0.5", "[fe80::1]"}));
}

}  // namespace
}  // namespace quorvanti::startup
