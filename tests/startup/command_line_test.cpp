// The monitor as an operator or a service manager starts it: the real executable on a program folder.
#include "startup/command_line.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "support/program_folder.h"

namespace quorvanti::startup {
namespace {

struct ProcessRun {
    int status;
    std::string output;  // standard output and standard error
};

// `environment`: assignments put before the command ("NAME=value ...").
ProcessRun runMonitor(const std::string& arguments, const std::string& environment = "") {
    const std::string command = environment + " " + std::string(QUORVANTI_BINARY_DIR) + "/quorvanti " + arguments + " 2>&1";
    ProcessRun run{-1, ""};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.output += buffer;
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

std::string folderArguments(const testing::ProgramFolder& folder) {
    return "--app-dir " + folder.path() + " --desktop-dir " + folder.desktop() + " --registry " + folder.registryFile();
}

TEST(CommandLineTest, OnceWithAnEmptyQueueEndsNormally) {
    testing::ProgramFolder folder(database::DbKind::Sqlite);
    // On a clock a hundred times faster the first poll comes after 30 ms instead of 3 s.
    const ProcessRun run =
        runMonitor(folderArguments(folder) + " --frontend headless --once", "QUORVANTI_TIME_SCALE=0.01");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("[frmEmitirNFCe] hidden"), std::string::npos) << run.output;
    EXPECT_EQ(folder.setting("TemNFCE_PraGerar"), "sim");
    // The consumer security code is a secret: it never reaches the journal.
    EXPECT_EQ(run.output.find("0123456789ABCDEF"), std::string::npos);
}

TEST(CommandLineTest, StopsEndWithTheirOwnStatus) {
    testing::ProgramFolder folder(database::DbKind::Sqlite);
    folder.removeSetting("CertificadoSerie");
    ProcessRun run = runMonitor(folderArguments(folder) + " --once");
    EXPECT_EQ(run.status, 4) << run.output;
    EXPECT_NE(run.output.find("\"CertificadoSerie\""), std::string::npos) << run.output;

    run = runMonitor("--no-such-option");
    EXPECT_EQ(run.status, 64);
    EXPECT_NE(run.output.find("uso: quorvanti"), std::string::npos);

    run = runMonitor(folderArguments(folder) + " --once", "QUORVANTI_TIME_SCALE=0,01");
    EXPECT_EQ(run.status, 64);
    EXPECT_NE(run.output.find("QUORVANTI_TIME_SCALE inválida: \"0,01\""), std::string::npos) << run.output;
}

TEST(CommandLineTest, ParsesEveryOption) {
    std::string error;
    const auto line = parseCommandLine({"--app-dir", "/opt/loja", "--frontend", "headless", "--once", "--desktop-dir",
                                        "/tmp/d", "--registry", "/tmp/r.ini", "--cert-dir", "/tmp/c",
                                        "--answer-yes-no", "no"},
                                       error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->appDir, "/opt/loja");
    EXPECT_TRUE(line->once);
    EXPECT_EQ(line->desktopDir, "/tmp/d");
    EXPECT_EQ(line->registryFile, "/tmp/r.ini");
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
          {"--listen", "127.0.0.1:8080"}})
        EXPECT_FALSE(parseCommandLine(refused, error)) << refused[refused.size() - 1];
    EXPECT_TRUE(parseCommandLine({"--frontend", "web", "--listen", "192.168.0.5:8443", "--tls", "c", "k"}, error));
}

}  // namespace
}  // namespace quorvanti::startup
