// quorvanti-sefaz as a real process for a test: started with the given arguments (its --listen should
// name port 0), its port read from its first line of output, killed when the object goes.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace quorvanti::testing {

class AuthorityProcess {
public:
    // Standard error goes to `errorLog`. port() is -1 when the program did not start.
    AuthorityProcess(const std::vector<std::string>& arguments, const std::string& errorLog);
    ~AuthorityProcess();
    AuthorityProcess(const AuthorityProcess&) = delete;
    AuthorityProcess& operator=(const AuthorityProcess&) = delete;

    int port() const { return port_; }
    std::string log() const;
    // Kills the program at once.
    void stop();

private:
    int readPort();

    pid_t pid_ = -1;
    int output_ = -1;
    int port_ = -1;
    std::string errorLog_;
};

// The program over HTTPS with the test server certificate, trusting client certificates of `clientCa`;
// its state, scenario and error log under `folder`, `extra` arguments after.
std::unique_ptr<AuthorityProcess> startHttpsAuthority(const std::string& folder, const std::string& clientCa,
                                                      const std::vector<std::string>& extra = {});

// Replaces the scenario file at `path` whole (written beside it, then renamed), as the running program
// expects: it reads the file again, with its call counts started afresh.
void replaceScenario(const std::string& path, const std::string& rules);

// A webservices.ini pointing every MT homologation service at the program on `port`.
std::string webServicesIni(int port, const std::string& ca, const std::string& timeoutMs = "");

class ProgramFolder;

// The shop of `folder` emitting for real: the test signer installed in its certificados folder (its
// serial in the settings), answering the store folder.
std::string installTestSigner(ProgramFolder& folder);
// The local SEFAZ of that shop, kept in the folder above it (state, log and an empty scenario
// cenario.txt), over HTTPS with the test authority, quiet, `extra` arguments after; the shop's
// nfe/webservices.ini points at it.
std::unique_ptr<AuthorityProcess> startShopAuthority(const ProgramFolder& folder, const std::string& timeoutMs,
                                                     const std::vector<std::string>& extra = {});

}  // namespace quorvanti::testing
