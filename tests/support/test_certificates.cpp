#include "support/test_certificates.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace quorvanti::testing {

namespace {

// Runs a shell command and answers its exit status, with its standard output and error in `output`.
int run(const std::string& command, std::string& output) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
    char buffer[512];
    output.clear();
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void copyPrivate(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    ::chmod(to.c_str(), 0600);
}

}  // namespace

const std::string& testCertificateFolder() {
    // The script itself is idempotent and safe to run from parallel test programs.
    static const std::string folder = [] {
        const std::string out = QUORVANTI_BINARY_DIR "/test-certificates";
        std::string output;
        const std::string command = quoted(QUORVANTI_SOURCE_DIR "/scripts/make-test-certificate.sh") + " " + quoted(out);
        if (run(command, output) != 0) throw std::runtime_error("make-test-certificate.sh failed: " + output);
        return out;
    }();
    return folder;
}

std::string testAuthorityPem() { return testCertificateFolder() + "/ac-teste.pem"; }

std::string installTestCertificate(const std::string& storeFolder, TestCertificate which) {
    const char* source = which == TestCertificate::Valid     ? "loja-teste.pfx"
                         : which == TestCertificate::Expired ? "expired/loja-vencida.pfx"
                                                             : "future/loja-futura.pfx";
    if (!std::filesystem::exists(storeFolder)) {
        std::filesystem::create_directories(storeFolder);
        ::chmod(storeFolder.c_str(), 0700);
    }
    const std::string from = testCertificateFolder() + "/" + source;
    const std::string to = storeFolder + "/" + std::filesystem::path(from).filename().string();
    copyPrivate(from, to);
    copyPrivate(from + ".senha", to + ".senha");
    return to;
}

bool xmlsecVerifies(const std::string& xmlPath, std::string* output) {
    std::string printed;
    const int status = run("xmlsec1 --verify --trusted-pem " + quoted(testAuthorityPem()) + " --id-attr:Id infNFe " +
                               quoted(xmlPath),
                           printed);
    if (output != nullptr) *output = printed;
    return status == 0;
}

}  // namespace quorvanti::testing
