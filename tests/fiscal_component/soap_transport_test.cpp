// The SOAP transport against a small HTTP server of the test on loopback that answers what a case needs
// (an answer, HTTP errors, garbage, SOAP faults, a dropped connection, an answer that never comes), and
// the certificate checks made before any connection.
// The reply records are filled with designated initialisers, which leave the other members
// value-initialised as intended; GCC's -Wextra still reports each omitted member.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "fiscal_component/certificates/certificate_store.h"
#include "fiscal_component/sefaz/soap_transport.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace quorvanti::fiscal {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kStatusAnswer =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\">"
    "<soap:Body><nfeResultMsg xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4\">"
    "<retConsStatServ xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><tpAmb>2</tpAmb>"
    "<verAplic>T</verAplic><cStat>107</cStat><xMotivo>Serviço em Operação</xMotivo><cUF>51</cUF>"
    "<dhRecbto>2026-03-05T14:07:09-04:00</dhRecbto><tMed>1</tMed></retConsStatServ></nfeResultMsg></soap:Body>"
    "</soap:Envelope>";

std::string fault(const std::string& code, const std::string& reason) {
    return "<?xml version=\"1.0\"?><soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>"
           "<soap:Fault><soap:Code><soap:Value>soap:" + code + "</soap:Value></soap:Code><soap:Reason>"
           "<soap:Text xml:lang=\"pt-BR\">" + reason + "</soap:Text></soap:Reason></soap:Fault></soap:Body>"
           "</soap:Envelope>";
}

// One HTTP/1.1 server thread on 127.0.0.1 serving connections one after another, keeping each alive.
class LocalServer {
public:
    enum class Mode { Answer, Drop, Hold };
    struct Reply {
        int status = 200;
        std::string body;
        Mode mode = Mode::Answer;
        std::string contentType = "application/soap+xml; charset=utf-8";
    };

    explicit LocalServer(Reply reply) : reply_(std::move(reply)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener_, 8) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }

    ~LocalServer() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        released_.notify_all();
        shutdown(listener_, SHUT_RDWR);
        if (const int open = connection_.load(); open >= 0) shutdown(open, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }

    std::string url(const std::string& path = "/nfcews/services/NFeStatusServico4") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int connections() const { return accepted_.load(); }
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    void serve() {
        for (;;) {
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) return;
            ++accepted_;
            connection_ = fd;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (stopping_) shutdown(fd, SHUT_RDWR);
            }
            while (answerOne(fd)) {
            }
            connection_ = -1;
            close(fd);
        }
    }

    // Reads one request and answers it; false when the connection is over.
    bool answerOne(int fd) {
        std::string request;
        std::size_t headEnd;
        while ((headEnd = request.find("\r\n\r\n")) == std::string::npos)
            if (!readMore(fd, request)) return false;
        std::size_t contentLength = 0;
        std::string head = request.substr(0, headEnd);
        for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (const auto at = head.find("content-length:"); at != std::string::npos)
            contentLength = std::stoul(head.substr(at + 15));
        while (request.size() < headEnd + 4 + contentLength)
            if (!readMore(fd, request)) return false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        if (reply_.mode == Mode::Drop) return false;
        if (reply_.mode == Mode::Hold) {
            std::unique_lock<std::mutex> lock(mutex_);
            released_.wait(lock, [this] { return stopping_; });
            return false;
        }
        const std::string answer = "HTTP/1.1 " + std::to_string(reply_.status) + " Status\r\nContent-Type: " +
                                   reply_.contentType + "\r\nContent-Length: " + std::to_string(reply_.body.size()) +
                                   "\r\n\r\n" + reply_.body;
        return send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(answer.size());
    }

    static bool readMore(int fd, std::string& into) {
        char buffer[4096];
        const ssize_t count = recv(fd, buffer, sizeof buffer, 0);
        if (count <= 0) return false;
        into.append(buffer, static_cast<std::size_t>(count));
        return true;
    }

    Reply reply_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<int> accepted_{0};
    std::atomic<int> connection_{-1};
    std::mutex mutex_;
    std::condition_variable released_;
    bool stopping_ = false;
    std::vector<std::string> requests_;
};

SoapCall statusCall(const std::string& url, long timeoutMs = 5000) {
    SoapCall call;
    call.service = WebService::ServiceStatus;
    call.url = url;
    call.message = "<consStatServ xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><tpAmb>2</tpAmb>"
                   "<cUF>51</cUF><xServ>STATUS</xServ></consStatServ>";
    call.connection.timeoutMs = timeoutMs;
    return call;
}

// The words by which the emission routine classifies an answer; a failure text carries its own only.
const std::vector<std::string> kClassWords = {
    "tempo limite da operação", "objeto não definida", "HTTP 404", "Lote em processamento", "xmlThere is",
    "ERRO 93",                  "Erro 98",             "conjunto de chaves", "Erro no documento XML", "NCM"};

void expectOnlyWord(const TransportFailure& failure, const std::string& word) {
    EXPECT_GT(failure.code, 8999) << failure.text;
    for (const std::string& other : kClassWords) {
        if (other == word) {
            EXPECT_THAT(failure.text, HasSubstr(other));
        } else {
            EXPECT_THAT(failure.text, Not(HasSubstr(other))) << "code " << failure.code;
        }
    }
}

TEST(SoapTransportTest, PostsASoap12EnvelopeWithTheActionReadsTheAnswerAndKeepsTheConnection) {
    LocalServer server({.body = kStatusAnswer});
    const SoapCall call = statusCall(server.url());
    const SoapOutcome outcome = callWebService(call, "retConsStatServ");

    ASSERT_FALSE(outcome.reading.failure) << outcome.reading.failure.text;
    ASSERT_NE(outcome.reading.message, nullptr);
    EXPECT_EQ(outcome.httpStatus, 200);
    EXPECT_EQ(outcome.body, kStatusAnswer);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_THAT(requests[0], StartsWith("POST /nfcews/services/NFeStatusServico4 HTTP/1.1\r\n"));
    EXPECT_THAT(requests[0], HasSubstr("\r\nContent-Type: application/soap+xml; charset=utf-8; action=\""
                                       "http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4/nfeStatusServicoNF\"\r\n"));
    const std::string envelope = soapEnvelope(WebService::ServiceStatus, call.message);
    EXPECT_EQ(requests[0].substr(requests[0].find("\r\n\r\n") + 4), envelope);
    EXPECT_THAT(envelope, HasSubstr("<soap12:Envelope"));
    EXPECT_THAT(envelope, HasSubstr("xmlns:soap12=\"http://www.w3.org/2003/05/soap-envelope\""));
    EXPECT_THAT(envelope, HasSubstr("<soap12:Body><nfeDadosMsg xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/"
                                    "NFeStatusServico4\">" + call.message + "</nfeDadosMsg></soap12:Body>"));

    // The connection is kept for the next call to the same server.
    const SoapOutcome second = callWebService(call, "retConsStatServ");
    ASSERT_FALSE(second.reading.failure);
    EXPECT_EQ(outcome.newConnections, 1);
    EXPECT_EQ(second.newConnections, 0);
    EXPECT_EQ(server.connections(), 1);
}

TEST(SoapTransportTest, EachUnusableOrMissingAnswerBecomesAFailureWithItsOwnWord) {
    struct Case {
        LocalServer::Reply reply;
        int code;
        std::string word;
        long timeoutMs = 5000;
    };
    const std::vector<Case> cases = {
        {{.status = 404, .body = "<html><body>Not Found</body></html>", .contentType = "text/html"}, 9404, "HTTP 404"},
        {{.status = 503, .body = "down", .contentType = "text/plain"}, 9503, ""},
        {{.body = "this is not <xml"}, kFailureNotXml, "xmlThere is"},
        {{.body = ""}, kFailureNotXml, "xmlThere is"},
        {{.status = 500, .body = fault("Receiver", "Servidor indisponível; NCM 1234")}, kFailureSoapFault, "Erro 98"},
        {{.status = 400, .body = fault("Sender", "Envelope ilegível")}, kFailureXmlDocument, "Erro no documento XML"},
        {{.body = "<html><body><p>portal</p></body></html>"}, kFailureMissingMessage, "objeto não definida"},
        {{.body = "<?xml version=\"1.0\"?><soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\">"
                  "<soap:Body><nfeResultMsg/></soap:Body></soap:Envelope>"},
         kFailureMissingMessage, "objeto não definida"},
        {{.mode = LocalServer::Mode::Drop}, kFailureDropped, "ERRO 93"},
        {{.mode = LocalServer::Mode::Hold}, kFailureTimeout, "tempo limite da operação", 200},
    };
    for (const Case& one : cases) {
        LocalServer server(one.reply);
        const SoapOutcome outcome = callWebService(statusCall(server.url(), one.timeoutMs), "retConsStatServ");
        SCOPED_TRACE(one.reply.body);
        EXPECT_EQ(outcome.reading.failure.code, one.code) << outcome.reading.failure.text;
        EXPECT_EQ(outcome.reading.message, nullptr);
        expectOnlyWord(outcome.reading.failure, one.word);
        EXPECT_THAT(outcome.reading.failure.text, HasSubstr(one.code == kFailureTimeout ? "(200 ms)" : ""));
    }
}

TEST(SoapTransportTest, AServerThatCannotBeReachedIsACommunicationFailure) {
    // A port that was just free: nothing listens there.
    int port = 0;
    {
        LocalServer gone({});
        port = std::stoi(gone.url().substr(17));
    }
    const SoapOutcome refused =
        callWebService(statusCall("http://127.0.0.1:" + std::to_string(port) + "/NFeStatusServico4"), "retConsStatServ");
    EXPECT_EQ(refused.reading.failure.code, kFailureConnect);
    EXPECT_THAT(refused.reading.failure.text, HasSubstr("não foi possível conectar ao servidor 127.0.0.1:"));
    expectOnlyWord(refused.reading.failure, "");

    const SoapOutcome unnamed = callWebService(statusCall("http://nome-inexistente.invalid/ncm/NFeStatusServico4"),
                                               "retConsStatServ");
    EXPECT_EQ(unnamed.reading.failure.code, kFailureConnect);
    expectOnlyWord(unnamed.reading.failure, "");

    const SoapOutcome malformed = callWebService(statusCall("ftp://127.0.0.1/NFeStatusServico4"), "retConsStatServ");
    EXPECT_EQ(malformed.reading.failure.code, kFailureAddress);
}

TEST(SoapTransportTest, HttpsNeedsAUsableClientCertificateBeforeConnecting) {
    SoapCall call = statusCall("https://127.0.0.1:1/NFeStatusServico4");

    call.certificate = [] () -> std::shared_ptr<const LoadedCertificate> {
        throw CertificateError("Certificado 1A2B vencido em 01/01/2021");
    };
    const SoapOutcome expired = callWebService(call, "retConsStatServ");
    EXPECT_EQ(expired.reading.failure.code, kFailureKeyset);
    EXPECT_THAT(expired.reading.failure.text, HasSubstr("vencido em 01/01/2021"));
    expectOnlyWord(expired.reading.failure, "conjunto de chaves");

    call.certificate = nullptr;
    EXPECT_EQ(callWebService(call, "retConsStatServ").reading.failure.code, kFailureKeyset);

    // The test signer's certificate with a key of its own: they do not belong together.
    testing::TempDir dir;
    testing::installTestCertificate(dir.file("store"));
    const CertificateStore store(dir.file("store"));
    const auto real = store.find(store.list().at(0).serialNumber);
    X509_up_ref(real->certificate());
    auto mismatched = std::make_shared<LoadedCertificate>(real->info(), EVP_RSA_gen(1024), real->certificate());
    call.certificate = [mismatched] { return mismatched; };
    const SoapOutcome wrongKey = callWebService(call, "retConsStatServ");
    EXPECT_EQ(wrongKey.reading.failure.code, kFailureKeyset);
    EXPECT_THAT(wrongKey.reading.failure.text, HasSubstr("não corresponde"));
}

TEST(SoapTransportTest, ReadsTheExpectedMessageWhereverTheBodyHoldsIt) {
    // A prefixed answer without the nfeResultMsg wrapper, as some servers write it, and SOAP 1.1.
    const std::string prefixed =
        "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Body>"
        "<n:retConsStatServ xmlns:n=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><n:cStat>107</n:cStat>"
        "</n:retConsStatServ></env:Body></env:Envelope>";
    EXPECT_NE(readSoapAnswer(WebService::ServiceStatus, 200, prefixed, "retConsStatServ").message, nullptr);

    const std::string soap11Fault =
        "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><s:Fault>"
        "<faultcode>s:Server</faultcode><faultstring>Indisponível</faultstring></s:Fault></s:Body></s:Envelope>";
    const SoapReading fault11 = readSoapAnswer(WebService::ServiceStatus, 500, soap11Fault, "retConsStatServ");
    EXPECT_EQ(fault11.failure.code, kFailureSoapFault);
    EXPECT_THAT(fault11.failure.text, HasSubstr("Indisponível"));

    // A message in another namespace is not the authority's.
    const std::string foreign =
        "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>"
        "<retConsStatServ xmlns=\"urn:outro\"><cStat>107</cStat></retConsStatServ></soap:Body></soap:Envelope>";
    EXPECT_EQ(readSoapAnswer(WebService::ServiceStatus, 200, foreign, "retConsStatServ").failure.code,
              kFailureMissingMessage);

    // libxml2 quotes a malformed answer's own bytes: a Latin-1 name without a declaration must not put
    // bytes that are not UTF-8 into the failure text that is shown, logged and stored.
    const SoapReading latin1 =
        readSoapAnswer(WebService::ServiceStatus, 200, "<retConsStat\xE9\xE9>x</retConsStatServ>", "retConsStatServ");
    EXPECT_EQ(latin1.failure.code, kFailureNotXml);
    EXPECT_THAT(latin1.failure.text, HasSubstr("retConsStat??"));
}

}  // namespace
}  // namespace quorvanti::fiscal
