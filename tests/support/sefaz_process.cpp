#include "support/sefaz_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

#include "fiscal_component/certificates/certificate_store.h"
#include "support/program_folder.h"
#include "support/shared_data.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace quorvanti::testing {

namespace {
const std::string kProgram = QUORVANTI_BINARY_DIR "/quorvanti-sefaz";
}

AuthorityProcess::AuthorityProcess(const std::vector<std::string>& arguments, const std::string& errorLog)
    : errorLog_(errorLog) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    const int error = ::open(errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<char*> argv{const_cast<char*>(kProgram.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        dup2(error, 2);
        ::close(out[0]);
        ::close(out[1]);
        ::close(error);
        execv(kProgram.c_str(), argv.data());
        _exit(127);
    }
    ::close(out[1]);
    ::close(error);
    output_ = out[0];
    port_ = readPort();
}

AuthorityProcess::~AuthorityProcess() {
    stop();
    ::close(output_);
}

std::string AuthorityProcess::log() const { return readFile(errorLog_); }

void AuthorityProcess::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

// "listening on 127.0.0.1:PORT"; -1 when the program ended or printed something else first.
int AuthorityProcess::readPort() {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (line.find('\n') == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return -1;
        pollfd ready{output_, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[256];
        const ssize_t count = ::read(output_, buffer, sizeof buffer);
        if (count <= 0) return -1;
        line.append(buffer, static_cast<std::size_t>(count));
    }
    const std::string prefix = "listening on 127.0.0.1:";
    return line.rfind(prefix, 0) == 0 ? std::stoi(line.substr(prefix.size())) : -1;
}

std::unique_ptr<AuthorityProcess> startHttpsAuthority(const std::string& folder, const std::string& clientCa,
                                                      const std::vector<std::string>& extra) {
    const std::string certificates = testCertificateFolder();
    std::vector<std::string> arguments{"--listen", "127.0.0.1:0", "--state", folder + "/estado", "--tls",
                                       certificates + "/servidor.pem", certificates + "/servidor.key", "--client-ca",
                                       clientCa, "--scenario", folder + "/cenario.txt", "--csc",
                                       "1:0123456789ABCDEF0123456789ABCDEF"};  // every test shop's CSC
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return std::make_unique<AuthorityProcess>(arguments, folder + "/sefaz.log");
}

void replaceScenario(const std::string& path, const std::string& rules) {
    writeFile(path + ".new", rules);
    std::filesystem::rename(path + ".new", path);
}

std::string webServicesIni(int port, const std::string& ca, const std::string& timeoutMs) {
    std::string ini = "[MT_2]\r\n";
    for (const char* service : {"NFeAutorizacao4", "NFeRetAutorizacao4", "NFeConsultaProtocolo4", "NFeStatusServico4",
                                "NFeRecepcaoEvento4", "NFeInutilizacao4"})
        ini += std::string(service) + "=https://127.0.0.1:" + std::to_string(port) + "/nfcews/services/" + service +
               "\r\n";
    return ini + "[TLS]\r\nCA=" + ca + "\r\nTimeoutMs=" + timeoutMs + "\r\n";
}

std::string installTestSigner(ProgramFolder& folder) {
    const std::string store = folder.path() + "/certificados";
    installTestCertificate(store);
    folder.setSetting("CertificadoSerie", fiscal::CertificateStore(store).list().at(0).serialNumber);
    return store;
}

std::unique_ptr<AuthorityProcess> startShopAuthority(const ProgramFolder& folder, const std::string& timeoutMs,
                                                     const std::vector<std::string>& extra) {
    writeFile(folder.path() + "/../cenario.txt", "");
    // Where the official package is at hand, every document the shop sends is checked against it.
    std::vector<std::string> arguments{"--quiet"};
    if (sharedDataPresent()) arguments.insert(arguments.end(), {"--schemas", kOfficialSchemas});
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    auto authority = startHttpsAuthority(folder.path() + "/..", testAuthorityPem(), arguments);
    writeFile(folder.path() + "/nfe/webservices.ini", webServicesIni(authority->port(), testAuthorityPem(), timeoutMs));
    return authority;
}

}  // namespace quorvanti::testing
