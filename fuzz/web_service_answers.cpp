// The web-service operations reading any answers, through a stand-in transport: a send of a signed
// NFC-e, two consultations of its key (which follow the receipt, the kept rejection or the protocol
// consultation as the answers lead them) and a status query, each answered by the next part of the
// input. Besides no crash, leak or undefined behaviour: every message sent is well-formed XML of the
// service's kind; a call whose answer could not be read gives its failure code with empty protocol
// fields; texts are UTF-8; an authorised document written to procNFe is well-formed nfeProc holding
// the signed NFe byte for byte, then its protNFe.
//
// Input: signed NFe (empty: a built-in one) %% answer to the first call %% to the second ... (parts
// separated by lines "%%"; a missing answer is an empty body).
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fiscal_component/sefaz/web_services.h"
#include "fiscal_component/document/xml_names.h"
#include "fuzz_support.h"

namespace {

using namespace quorvanti;
using namespace quorvanti::fiscal;
using fuzz::shown;

constexpr const char* kKey = "51260311222333000181650010000012341000012347";
const std::string kSignedNfe =
    std::string("<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe versao=\"4.00\" Id=\"NFe") + kKey +
    "\"><ide><cUF>51</cUF></ide></infNFe><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo>"
    "<Reference URI=\"#NFe" + kKey + "\"><DigestValue>q0mmYAVgC1qkzTmpgIdXTxwd3J4=</DigestValue></Reference>"
    "</SignedInfo><SignatureValue>AA==</SignatureValue></Signature></NFe>";

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

DocPtr parsed(std::string_view xml) {
    return DocPtr(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

xmlNode* nextElement(xmlNode* node) {
    while (node != nullptr && node->type != XML_ELEMENT_NODE) node = node->next;
    return node;
}

// The stand-in authority: each call takes the next answer; the message sent is checked on the way.
class Answers {
public:
    explicit Answers(std::vector<std::string> bodies) : bodies_(std::move(bodies)) {}

    SoapOutcome operator()(const SoapCall& call, std::string_view messageName) {
        static const std::pair<WebService, std::pair<const char*, const char*>> kKinds[] = {
            {WebService::Authorisation, {"enviNFe", "retEnviNFe"}},
            {WebService::ReceiptConsultation, {"consReciNFe", "retConsReciNFe"}},
            {WebService::ProtocolConsultation, {"consSitNFe", "retConsSitNFe"}},
            {WebService::ServiceStatus, {"consStatServ", "retConsStatServ"}}};
        const char* request = nullptr;
        for (const auto& [service, names] : kKinds) {
            if (service == call.service) {
                request = names.first;
                FUZZ_CHECK(messageName == names.second, std::string(messageName));
            }
        }
        const DocPtr sent = parsed(call.message);
        FUZZ_CHECK(sent && isElement(xmlDocGetRootElement(sent.get()), request, kNfeNamespace),
                   "a malformed message was sent:\n" + shown(call.message));

        SoapOutcome outcome;
        outcome.httpStatus = 200;
        outcome.body = next_ < bodies_.size() ? bodies_[next_] : std::string();
        ++next_;
        outcome.reading = readSoapAnswer(call.service, outcome.httpStatus, outcome.body, messageName);
        lastFailure = outcome.reading.failure;
        ++calls;
        return outcome;
    }

    TransportFailure lastFailure;
    int calls = 0;

private:
    std::vector<std::string> bodies_;
    std::size_t next_ = 0;
};

// The result of one operation against what its last call answered.
template <typename Result>
void checkResult(const Result& result, Answers& answers, int callsBefore, const char* operation) {
    FUZZ_CHECK(fuzz::validUtf8(result.xMotivo), std::string(operation) + ": " + shown(result.xMotivo));
    if (answers.calls > callsBefore && answers.lastFailure) {
        FUZZ_CHECK(result.cStat == answers.lastFailure.code && result.xMotivo == answers.lastFailure.text,
                   std::string(operation) + " answered " + std::to_string(result.cStat) + " for failure " +
                       std::to_string(answers.lastFailure.code));
        if constexpr (!std::is_same_v<Result, ServiceStatusResult>)
            FUZZ_CHECK(result.protocolCStat == 0 && result.nProt.empty() && result.protocolXMotivo.empty(),
                       std::string(operation) + ": protocol fields after a failure");
    }
    if constexpr (!std::is_same_v<Result, ServiceStatusResult>)
        FUZZ_CHECK(fuzz::validUtf8(result.protocolXMotivo) && fuzz::validUtf8(result.nProt) &&
                       fuzz::validUtf8(result.protocolDhRecbto),
                   operation);
}

void checkProcNfe(const std::string& path, std::string_view signedNfe) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return;
    const std::string content = fuzz::readFile(path);
    const DocPtr doc = parsed(content);
    FUZZ_CHECK(doc != nullptr, "procNFe is not well-formed:\n" + shown(content));
    xmlNode* root = xmlDocGetRootElement(doc.get());
    FUZZ_CHECK(isElement(root, "nfeProc", kNfeNamespace), "procNFe root");
    xmlNode* nfe = nextElement(root->children);
    FUZZ_CHECK(isElement(nfe, "NFe", kNfeNamespace), "procNFe without its NFe first");
    xmlNode* protocol = nextElement(nfe->next);
    FUZZ_CHECK(isElement(protocol, "protNFe", kNfeNamespace) && nextElement(protocol->next) == nullptr,
               "procNFe must hold NFe then protNFe:\n" + shown(content));
    const std::string_view element = fiscal::rootElementText(signedNfe);
    FUZZ_CHECK(content.find(element) != std::string::npos, "procNFe does not hold the signed NFe verbatim");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto input = fuzz::parts(fuzz::asText(data, size), 7);
    const std::string signedNfe = input[0].empty() ? kSignedNfe : input[0];
    input.erase(input.begin());

    static const std::string folder = [] {
        const std::string nfe = fuzz::scratchFolder() + "/nfe/";
        std::filesystem::create_directories(nfe + "arquivos/assinado");
        return nfe;
    }();
    const std::string procNfe = folder + "arquivos/procNFe/" + kKey + "-procNFe.xml";
    std::error_code ec;
    std::filesystem::remove(procNfe, ec);
    // The signed file the consultations fall back on.
    fuzz::writeFile(folder + "arquivos/assinado/NFe" + kKey + "-assinado.xml", signedNfe);

    Answers answers(input);
    WebServices services(WebServiceSettings{.uf = "MT", .tpAmb = 2, .documentFolder = folder, .timeoutMs = "30000"},
                         [] { return std::shared_ptr<const LoadedCertificate>(); },
                         [&answers](const SoapCall& call, std::string_view name) { return answers(call, name); });

    int before = answers.calls;
    checkResult(services.sendDocument(signedNfe, SendArgs{.nNF = 1234, .indSinc = 1}), answers, before, "send");
    for (int i = 0; i < 2; ++i) {
        before = answers.calls;
        checkResult(services.consult(kKey), answers, before, "consult");
    }
    before = answers.calls;
    checkResult(services.serviceStatus(), answers, before, "serviceStatus");
    checkProcNfe(procNfe, signedNfe);
    return 0;
}
