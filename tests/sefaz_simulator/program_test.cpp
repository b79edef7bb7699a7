// quorvanti-sefaz as a real process on loopback: what it serves over HTTP and what a restart keeps. (HTTPS
// with client certificates, and a scenario changed while it runs, are exercised by the web service suite.)
#include <curl/curl.h>
#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "simulator_test_support.h"
#include "support/shared_data.h"
#include "support/sefaz_process.h"

namespace quorvanti::sefaz {
namespace {

using ::testing::HasSubstr;
using namespace testsupport;
using fiscal::testsales::Sale;

using SimulatorProcess = testing::AuthorityProcess;

struct HttpAnswer {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

HttpAnswer request(const std::string& url, const std::string& body,
                   const std::string& contentType = "application/soap+xml; charset=utf-8", const char* method = "POST") {
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
    std::string url(const std::string& service) const {
        return "http://127.0.0.1:" + std::to_string(port) + "/nfcews/services/" + service;
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
    EXPECT_EQ(request(url("NFeStatusServico4"), statusRequest(), "text/xml").status, 415);
    EXPECT_EQ(request(url("NFeStatusServico4"), "", "", "GET").status, 405);
    EXPECT_EQ(request(url("NFeStatusServico4"), "<x/>").status, 400);

    EXPECT_EQ(process->finish(SIGTERM), 0) << process->log();
    EXPECT_THAT(process->log(), HasSubstr("NFeAutorizacao4 #1: chNFe " + document.key + " -> 100"));

    process = start({"--listen", "127.0.0.1:0", "--state", state, "--quiet"});
    const HttpAnswer consulted = request(url("NFeConsultaProtocolo4"), consultRequest(document.key));
    EXPECT_THAT(consulted.body, HasSubstr("<cStat>100</cStat>"));
    EXPECT_THAT(consulted.body, HasSubstr("<chNFe>" + document.key + "</chNFe>"));
    EXPECT_EQ(process->finish(SIGINT), 0);
}

}  // namespace
}  // namespace quorvanti::sefaz
