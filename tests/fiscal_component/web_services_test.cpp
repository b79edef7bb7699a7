// The SOAP transport against a small HTTP server of the test on loopback that answers what a case needs
// (an answer, HTTP errors, garbage, SOAP faults, a dropped connection, an answer that never comes), and
// the certificate checks made before any connection. Then the web-service operations against
// quorvanti-sefaz started as a real process on loopback, over HTTPS with the test authority's server
// certificate and client-certificate verification: send, service status, the files kept, the failures
// of TLS; and the addresses and messages, which need no server; and the text that names an untrusted
// server.
// The reply records are filled with designated initialisers, which leave the other members
// value-initialised as intended; GCC's -Wextra still reports each omitted member.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "authorisation/outcome_texts.h"
#include "fiscal_component/certificates/certificate_store.h"
#include "fiscal_component/real_component.h"
#include "fiscal_component/sefaz/sefaz_addresses.h"
#include "fiscal_component/sefaz/server_trust.h"
#include "fiscal_component/sefaz/soap_transport.h"
#include "fiscal_component/sefaz/web_services.h"
#include "platform/durable_file.h"
#include "support/error_text.h"
#include "support/sefaz_process.h"
#include "support/shared_data.h"
#include "support/signed_nfce.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace quorvanti::fiscal {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::StartsWith;
using testing::AuthorityProcess;
using testing::errorText;
using testing::readFile;
using testing::validAgainst;
using testing::writeFile;

// `body` in a SOAP 1.2 envelope.
std::string soap12(const std::string& body) {
    return "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>" + body +
           "</soap:Body></soap:Envelope>";
}

const std::string kStatusAnswer =
    soap12("<nfeResultMsg xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4\"><retConsStatServ "
           "xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><cStat>107</cStat></retConsStatServ></nfeResultMsg>");

std::string fault(const std::string& code, const std::string& reason) {
    return soap12("<soap:Fault><soap:Code><soap:Value>soap:" + code + "</soap:Value></soap:Code><soap:Reason>"
                  "<soap:Text xml:lang=\"pt-BR\">" + reason + "</soap:Text></soap:Reason></soap:Fault>");
}

// An HTTP server on 127.0.0.1 answering every POST with one reply (a dropped connection sends the head
// and closes before the promised body; a held answer comes after the caller has given up). It closes
// each connection after its answer unless asked to keep it: a kept one holds the server's end for a
// second.
class LocalServer {
public:
    enum class Mode { Answer, Drop, Hold };
    struct Reply {
        int status = 200;
        std::string body;
        Mode mode = Mode::Answer;
        std::string contentType = "application/soap+xml; charset=utf-8";
        bool keepAlive = false;
    };

    explicit LocalServer(const Reply& reply) {
        server_.Post(".*", [this, reply](const httplib::Request& request, httplib::Response& response) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            if (reply.mode == Mode::Hold) std::this_thread::sleep_for(std::chrono::milliseconds(600));
            response.status = reply.status;
            if (!reply.keepAlive) response.set_header("Connection", "close");
            if (reply.mode == Mode::Drop)
                response.set_content_provider(1, reply.contentType,
                                              [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
            else
                response.set_content(reply.body, reply.contentType);
        });
        server_.set_keep_alive_timeout(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // A stop that came before the loop runs would be lost.
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    ~LocalServer() {
        server_.stop();
        thread_.join();
    }

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/nfcews/services/NFeStatusServico4"; }
    std::vector<httplib::Request> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<httplib::Request> requests_;
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
    LocalServer server({.body = kStatusAnswer, .keepAlive = true});
    const SoapCall call = statusCall(server.url());
    const SoapOutcome outcome = callWebService(call, "retConsStatServ");

    ASSERT_FALSE(outcome.reading.failure) << outcome.reading.failure.text;
    ASSERT_NE(outcome.reading.message, nullptr);
    EXPECT_EQ(outcome.httpStatus, 200);
    EXPECT_EQ(outcome.body, kStatusAnswer);
    // The connection is kept for the next call to the same server.
    const SoapOutcome second = callWebService(call, "retConsStatServ");
    ASSERT_FALSE(second.reading.failure);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(std::make_tuple(outcome.newConnections, second.newConnections, requests[1].remote_port),
              std::make_tuple(1, 0, requests[0].remote_port));
    EXPECT_EQ(requests[0].method + " " + requests[0].path + " " + requests[0].version,
              "POST /nfcews/services/NFeStatusServico4 HTTP/1.1");
    EXPECT_EQ(requests[0].get_header_value("Content-Type"),
              "application/soap+xml; charset=utf-8; action=\""
              "http://www.portalfiscal.inf.br/nfe/wsdl/NFeStatusServico4/nfeStatusServicoNF\"");
    EXPECT_EQ(requests[0].body, soapEnvelope(WebService::ServiceStatus, call.message));
}

// Each failure carries its own classifying word only, and its own detail.
TEST(SoapTransportTest, EachUnusableOrMissingAnswerBecomesAFailureWithItsOwnWord) {
    std::string refusedUrl;  // a port that was just free: nothing listens there
    {
        LocalServer gone({});
        refusedUrl = gone.url();
    }
    struct Case {
        LocalServer::Reply reply;
        int code;
        std::string word;
        long timeoutMs = 5000;
        std::string detail;
        std::string url;  // instead of the server's
    };
    const std::vector<Case> cases = {
        {{.status = 404, .body = "<html><body>Not Found</body></html>", .contentType = "text/html"}, 9404, "HTTP 404"},
        {{.body = "this is not <xml"}, kFailureNotXml, "xmlThere is"},
        {{.body = ""}, kFailureNotXml, "xmlThere is"},
        {{.status = 500, .body = fault("Receiver", "Servidor indisponível; NCM 1234")}, kFailureSoapFault, "Erro 98"},
        {{.status = 400, .body = fault("Sender", "Envelope ilegível")}, kFailureXmlDocument, "Erro no documento XML"},
        {{.body = "<html><body><p>portal</p></body></html>"}, kFailureMissingMessage, "objeto não definida"},
        {{.mode = LocalServer::Mode::Drop}, kFailureDropped, "ERRO 93"},
        {{.mode = LocalServer::Mode::Hold}, kFailureTimeout, "tempo limite da operação", 200, "(200 ms)"},
        {{}, kFailureConnect, "", 5000, "não foi possível conectar ao servidor 127.0.0.1:", refusedUrl},
        {{}, kFailureAddress, "", 5000, "", "ftp://127.0.0.1/NFeStatusServico4"},
    };
    for (const Case& one : cases) {
        LocalServer server(one.reply);
        const SoapOutcome outcome =
            callWebService(statusCall(one.url.empty() ? server.url() : one.url, one.timeoutMs), "retConsStatServ");
        SCOPED_TRACE(one.reply.body + one.url);
        EXPECT_EQ(outcome.reading.failure.code, one.code) << outcome.reading.failure.text;
        EXPECT_EQ(outcome.reading.message, nullptr);
        expectOnlyWord(outcome.reading.failure, one.word);
        EXPECT_THAT(outcome.reading.failure.text, HasSubstr(one.detail));
    }
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
    const struct {
        int status;
        std::string body;
        int code;
        std::string detail;
    } cases[] = {
        // A prefixed answer without the nfeResultMsg wrapper, as some servers write it.
        {200,
         "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Body><n:retConsStatServ "
         "xmlns:n=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><n:cStat>107</n:cStat></n:retConsStatServ>"
         "</env:Body></env:Envelope>",
         0, ""},
        // A message in another namespace is not the authority's.
        {200, soap12("<retConsStatServ xmlns=\"urn:outro\"><cStat>107</cStat></retConsStatServ>"), kFailureMissingMessage, ""},
        // libxml2 quotes a malformed answer's own bytes: a Latin-1 name without a declaration must not put
        // bytes that are not UTF-8 into the failure text that is shown, logged and stored.
        {200, "<retConsStat\xE9\xE9>x</retConsStatServ>", kFailureNotXml, "retConsStat??"},
    };
    for (const auto& c : cases) {
        const SoapReading reading = readSoapAnswer(WebService::ServiceStatus, c.status, c.body, "retConsStatServ");
        EXPECT_EQ(reading.failure.code, c.code) << c.body;
        EXPECT_EQ(reading.message != nullptr, c.code == 0);
        EXPECT_THAT(reading.failure.text, HasSubstr(c.detail));
    }
}

// The tests that make a signed NFC-e need the official schemas; the addresses and the trust of both ends
// of the connection need nothing but the test certificates.
class WebServicesTest : public ::testing::Test {
protected:
    // A signed NFC-e of homologation with `number`, written by the real component under nfe/.
    testing::SignedNfce make(int number) {
        testsales::Sale sale;
        sale.number = number;
        return maker.make(sale);
    }

    // The local authority over HTTPS, trusting clients of `clientCa`; webservices.ini points at it.
    void startAuthority(const std::string& clientCa = testing::testAuthorityPem()) {
        std::filesystem::create_directories(nfe);
        std::filesystem::copy_file(testing::testAuthorityPem(), nfe + "ac-teste.pem");
        authority = testing::startHttpsAuthority(
            dir.path(), clientCa,
            testing::sharedDataPresent() ? std::vector<std::string>{"--schemas", testing::kOfficialSchemas}
                                         : std::vector<std::string>{});
        ASSERT_GT(authority->port(), 0) << authority->log();
        writeIni();
    }

    void writeIni(const std::string& ca = "ac-teste.pem", const std::string& timeoutMs = "") {
        writeFile(nfe + "webservices.ini", testing::webServicesIni(authority->port(), ca, timeoutMs));
    }

    void scenario(const std::string& text) { testing::replaceScenario(dir.file("cenario.txt"), text); }

    WebServices services(const std::string& uf = "MT") {
        return WebServices(WebServiceSettings{.uf = uf, .tpAmb = 2, .documentFolder = nfe, .timeoutMs = "30000"},
                           certificate());
    }
    std::function<std::shared_ptr<const LoadedCertificate>()> certificate() const {
        return [folder = maker.storeFolder(), wanted = maker.serial()] { return CertificateStore(folder).find(wanted); };
    }

    // cStat and xMotivo of a result, as one text.
    template <class Result>
    static std::string said(const Result& result) {
        return std::to_string(result.cStat) + " " + result.xMotivo;
    }
    std::string procNfePath(const std::string& key) const { return nfe + "arquivos/procNFe/" + key + "-procNFe.xml"; }

    // Web services whose every call is answered with `answer`, counted.
    WebServices standIn() {
        return WebServices(WebServiceSettings{.uf = "MT", .tpAmb = 2, .documentFolder = nfe}, {},
                           [this](const SoapCall& call, std::string_view name) {
                               ++calls;
                               SoapOutcome outcome{.httpStatus = 200, .body = answer};
                               outcome.reading = readSoapAnswer(call.service, 200, outcome.body, name);
                               return outcome;
                           });
    }
    const std::string key = "51260311222333000181650010000012341000012347";
    const std::string unsignedText =
        "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe versao=\"4.00\" Id=\"NFe" + key + "\"/></NFe>";

    testing::TempDir dir;
    testing::SignedNfceMaker maker{dir.path()};
    std::string nfe = dir.file("nfe") + "/";
    std::unique_ptr<AuthorityProcess> authority;
    std::string answer;
    int calls = 0;
};

TEST_F(WebServicesTest, AddressesComeFromTheIniFileOverTheBuiltInOnes) {
    // Without the file, the built-in address serves.
    EXPECT_EQ(serviceAddress("mt", 2, WebService::Authorisation, nfe), builtInServiceAddress("MT", 2, WebService::Authorisation));

    writeFile(nfe + "webservices.ini", "[mt_2]\r\nNFeConsultaProtocolo4=http://127.0.0.1:9/c\r\n"
                                       "NFeStatusServico4= HTTPS://127.0.0.1:9/s \r\n"
                                       "[TLS]\r\nCA=ac-teste.pem\r\nTimeoutMs=250\r\n");
    EXPECT_EQ(serviceAddress("MT", 2, WebService::ServiceStatus, nfe), "HTTPS://127.0.0.1:9/s");
    EXPECT_EQ(serviceAddress("MT", 2, WebService::Authorisation, nfe), builtInServiceAddress("MT", 2, WebService::Authorisation));
    // Unknown, or configured without https (the server would go unverified): refused, naming the key.
    EXPECT_THAT(errorText<AddressError>([&] { serviceAddress("MT", 2, WebService::ProtocolConsultation, nfe); }),
                HasSubstr(nfe + "webservices.ini, seção [MT_2], chave NFeConsultaProtocolo4"));

    // (A CA file named relative to nfe/ is what every test against the local authority trusts.)
    EXPECT_EQ(connectionSettings(nfe, "30000").timeoutMs, 250);
    writeFile(nfe + "webservices.ini", "[TLS]\r\nCA=/etc/outra.pem\r\nTimeoutMs=abc\r\n");
    const ConnectionSettings absolute = connectionSettings(nfe, "15000");
    EXPECT_EQ(std::tie(absolute.caFile, absolute.timeoutMs), std::make_tuple("/etc/outra.pem", 15000));

    // The operations answer a missing or refused address like any failure to reach the authority, and
    // never call a plain http address.
    const std::string failure = std::to_string(kFailureAddress) + " .*";
    EXPECT_THAT(said(services("SP").serviceStatus()), MatchesRegex(failure + "seção \\[SP_2\\], chave NFeStatusServico4.*"));
    writeFile(nfe + "webservices.ini", "[MT_2]\r\nNFeConsultaProtocolo4=http://127.0.0.1:9/c\r\n");
    EXPECT_THAT(said(services().consult(std::string(44, '1'))),
                AllOf(MatchesRegex(failure), HasSubstr("\"http://127.0.0.1:9/c\""), HasSubstr("https://")));
}

TEST_F(WebServicesTest, TheMessagesAreValidAgainstTheOfficialSchemas) {
    QUORVANTI_SKIP_WITHOUT_SHARED();
    const testing::SignedNfce document = make(1234);
    const std::string nfeText = document.xml;
    std::string error;
    EXPECT_TRUE(validAgainst("enviNFe_v4.00.xsd", enviNFeMessage(nfeText, 1234, 1), &error)) << error;
    EXPECT_TRUE(validAgainst("consReciNFe_v4.00.xsd", consReciNFeMessage(2, "510000000012345"), &error)) << error;
    EXPECT_TRUE(validAgainst("consSitNFe_v4.00.xsd", consSitNFeMessage(2, document.key), &error)) << error;
    EXPECT_TRUE(validAgainst("consStatServ_v4.00.xsd", consStatServMessage(1, "51"), &error)) << error;
}

// The kept authorised document is the signed NFe as sent with its protocol, valid and verified. (The
// consultation after a 204, the 217 of an unknown key and the status are the emission routine's fault rows
// and --check-sefaz's.)
TEST_F(WebServicesTest, AnAuthorisedSendKeepsItsDocument) {
    QUORVANTI_SKIP_WITHOUT_SHARED();
    const testing::SignedNfce document = make(1234);
    startAuthority();
    WebServices ws = services();

    const SendResult sent = ws.send(document.path, SendArgs{.nNF = 1234, .indSinc = 1});
    EXPECT_EQ(std::tie(sent.cStat, sent.protocolCStat), std::make_tuple(104, 100));
    EXPECT_THAT(readFile(nfe + "retornos/" + document.key + "-ret-envi.xml"), HasSubstr("<retEnviNFe"));
    const std::string proc = readFile(procNfePath(document.key));
    std::string error;
    EXPECT_TRUE(validAgainst("procNFe_v4.00.xsd", proc, &error)) << error;
    EXPECT_THAT(proc, AllOf(HasSubstr("<nfeProc versao=\"4.00\" xmlns=\"http://www.portalfiscal.inf.br/nfe\">" +
                                      document.xml + "<protNFe"),
                            HasSubstr("<nProt>" + sent.nProt + "</nProt>")));
    EXPECT_TRUE(testing::xmlsecVerifies(procNfePath(document.key)));
    EXPECT_EQ(ws.consult("123").cStat, kFailureXmlDocument);  // refused before asking
}

// The program asks for a synchronous answer, but an authority that cannot give one answers 103 with a
// receipt: the consultation follows the receipt to the result. (The local SEFAZ answers so to indSinc 0.)
TEST_F(WebServicesTest, AnAsynchronousSendIsConsultedByItsReceipt) {
    QUORVANTI_SKIP_WITHOUT_SHARED();
    const testing::SignedNfce document = make(1300);
    startAuthority();
    WebServices ws = services();

    const SendResult sent = ws.send(document.path, SendArgs{.nNF = 1300, .indSinc = 0});
    EXPECT_EQ(std::tie(sent.cStat, sent.protocolCStat), std::make_tuple(103, 0));
    const ConsultationResult authorised = ws.consult(document.key);
    EXPECT_EQ(std::tie(authorised.cStat, authorised.protocolCStat), std::make_tuple(100, 100));
    std::string error;
    EXPECT_TRUE(validAgainst("procNFe_v4.00.xsd", readFile(procNfePath(document.key)), &error)) << error;
}

// A self-signed certificate of the test's own, "CN=`name`"; the caller frees it.
X509* ownCertificate(const std::string& name) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 7);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 86400);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
    X509_set_issuer_name(certificate, X509_get_subject_name(certificate));
    X509_set_pubkey(certificate, key);
    X509_sign(certificate, key, EVP_sha256());
    EVP_PKEY_free(key);
    return certificate;
}

// The notes of verifying, against an empty store, a server certificate issued by "CN=`issuer`".
ServerChainNote verifyIssuedBy(const std::string& issuer) {
    X509* certificate = ownCertificate(issuer);
    X509_STORE* store = X509_STORE_new();
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    X509_STORE_CTX_init(context, store, certificate, nullptr);
    X509_STORE_CTX_set_verify_cb(context, noteServerChain);
    forgetServerChain();
    EXPECT_NE(X509_verify_cert(context), 1);
    X509_STORE_CTX_free(context);
    X509_STORE_free(store);
    X509_free(certificate);
    return lastServerChain();
}

// Failure 9003 for an untrusted server is read by the routine as "no answer, keep the sale".
// (The text itself, with the issuer and the setting, is --check-sefaz's test.)
TEST(ServerTrustTest, TheIssuersNameCannotSpellTheRoutinesWords) {
    // The issuer's name, the server's own text, cannot spell the words that end the routine's wait.
    const std::string forged = untrustedServerText(
        "https://127.0.0.1:1/s", "", "", verifyIssuedBy("HTTP 404 ERRO 93 xmlThere is nao habilitado\r\nPOSTERIOR"));
    EXPECT_THAT(forged, AllOf(Not(HasSubstr("HTTP 404")), Not(HasSubstr("ERRO 93")), Not(HasSubstr("\n"))));
    EXPECT_TRUE(authorisation::uncertainAnswer(kFailureServerCertificate, forged)) << forged;
}

// The authority here trusts only clients of another authority; the program trusts only servers of the
// configured one.
TEST_F(WebServicesTest, BothEndsOfTheConnectionMustBeTrusted) {
    // An authority that issued neither the signer nor the server.
    const std::string other = dir.file("ac-outra.pem");
    testing::commandOutput("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout /dev/null "
                           "-subj '/CN=AC OUTRA' -days 1 -out '" + other + "' 2>&1");
    startAuthority(other);
    const std::string refused = said(services().serviceStatus());
    // Not the routine's word for a dropped connection: a refused signer is not an answer that may come later.
    EXPECT_THAT(refused, AllOf(StartsWith(std::to_string(kFailureClientRefused) + " "), Not(HasSubstr("ERRO 93"))));

    // (The text naming the untrusted server is --check-sefaz's test; an unreadable CA file, the
    // environment fault test's.)
    writeIni(other);
    EXPECT_EQ(services().serviceStatus().cStat, kFailureServerCertificate);
    // Without a CA file the system's bundle decides, and it does not hold the test authority.
    writeIni("");
    EXPECT_EQ(services().serviceStatus().cStat, kFailureServerCertificate);
}

// Answers that cannot be kept change nothing: the authorised document is stored all the same. (An
// authorised document that cannot be stored is the emission routine's disk-full row.)
TEST_F(WebServicesTest, AnAnswerThatCannotBeKeptChangesNothing) {
    QUORVANTI_SKIP_WITHOUT_SHARED();
    const testing::SignedNfce document = make(1700);
    startAuthority();
    platform::test_seam::failWritesUnder(nfe + "retornos", EACCES);
    EXPECT_EQ(services().send(document.path, SendArgs{.nNF = 1700}).protocolCStat, 100);
    platform::test_seam::stopFailingWrites();
    EXPECT_THAT(readFile(procNfePath(document.key)), HasSubstr("<protNFe"));
}

// The consultation takes the signed NFe of an authorised key from its file: a damaged file (or one with a
// document type declaration, or with more after the NFe) must not become an authorised document that
// cannot be read or holds what the authority did not authorise.
TEST_F(WebServicesTest, AnAuthorisationOfADamagedSignedFileWritesNoAuthorisedDocument) {
    answer = soap12("<retConsSitNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><cStat>100</cStat>"
                    "<xMotivo>Autorizado o uso da NF-e</xMotivo><protNFe versao=\"4.00\"><infProt><chNFe>" + key +
                    "</chNFe><nProt>151260000012345</nProt><cStat>100</cStat><xMotivo>Autorizado o uso da NF-e"
                    "</xMotivo></infProt></protNFe></retConsSitNFe>");
    WebServices ws = standIn();
    const std::string signedPath = nfe + "arquivos/assinado/NFe" + key + "-assinado.xml";
    const std::string procPath = nfe + "arquivos/procNFe/" + key + "-procNFe.xml";
    for (const std::string& damaged :
         {unsignedText.substr(0, 60), "<!DOCTYPE NFe []>" + unsignedText, unsignedText + "\r\nx<outro/>"}) {
        writeFile(signedPath, damaged);
        EXPECT_EQ(ws.consult(key).cStat, 100);
        EXPECT_FALSE(std::filesystem::exists(procPath)) << damaged;
    }
    writeFile(signedPath, "<?xml version=\"1.0\"?>\n" + unsignedText);
    EXPECT_EQ(ws.consult(key).cStat, 100);
    EXPECT_THAT(readFile(procPath), HasSubstr(unsignedText + "<protNFe"));
}

// What is not a signed NFe, or cannot go into a message as it is, is refused before any call.
TEST_F(WebServicesTest, OnlyASignedNfeThatFitsIntoAMessageIsSent) {
    const std::string nfeText = unsignedText.substr(0, unsignedText.size() - 6) +
                                "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"/></NFe>";
    writeFile(nfe + "arquivos/gerados/NFe" + key + ".xml", unsignedText);
    WebServices ws = standIn();
    const std::pair<SendResult, std::string> cases[] = {
        {ws.send(nfe + "arquivos/assinado/NFe0-assinado.xml", SendArgs{.nNF = 1}), "Erro no documento XML"},
        {ws.send(nfe + "arquivos/gerados/NFe" + key + ".xml", SendArgs{.nNF = 1234}), "não está assinada"},
        {ws.sendDocument("<nfeProc/>", SendArgs{.nNF = 1}), ""},
        {ws.sendDocument(nfeText + std::string(1, '\0'), SendArgs{.nNF = 1}), "não cabe numa mensagem XML"},
        {ws.sendDocument("<!DOCTYPE NFe []>" + nfeText, SendArgs{.nNF = 1}), "não cabe numa mensagem XML"},
    };
    for (const auto& [sent, reason] : cases) {
        EXPECT_EQ(sent.cStat, kFailureXmlDocument) << sent.xMotivo;
        EXPECT_THAT(sent.xMotivo, HasSubstr(reason));
    }
    EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace quorvanti::fiscal
