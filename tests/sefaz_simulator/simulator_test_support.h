// Helpers of the local authority's tests: signed NFC-e made by the real fiscal component (and changed
// and signed again where a test needs a faulty one), the request envelopes the component sends, the
// message inside an answer, and the official answer schemas.
#pragma once

// The argument records are filled with designated initialisers, which leave the other members
// value-initialised as intended; GCC's -Wextra still reports each omitted member.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlschemas.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "../fiscal_component/sale_builder.h"
#include "fiscal_component/certificate_store.h"
#include "fiscal_component/real_component.h"
#include "fiscal_component/xml_signer.h"
#include "sefaz_simulator/service.h"
#include "sefaz_simulator/soap_envelope.h"
#include "sefaz_simulator/xml_util.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace quorvanti::sefaz::testsupport {

inline const std::string kOfficialSchemas = QUORVANTI_SHARED_DIR "/nfe-schemas";
inline const std::string kExampleDocument = QUORVANTI_SHARED_DIR "/examples/nfce-homologacao-assinada.xml";
inline const std::string kExampleAuthority = QUORVANTI_SHARED_DIR "/examples/ac-teste-do-exemplo.pem";
inline const char* kHomologationItem = "NOTA FISCAL EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR FISCAL";

// `xml` without its XML declaration, ready to be placed inside a message.
inline std::string withoutDeclaration(const std::string& xml) {
    if (xml.rfind("<?xml", 0) != 0) return xml;
    return xml.substr(xml.find("?>") + 2);
}

struct SignedDocument {
    std::string key;  // 44 digits
    std::string xml;  // the signed NFe, no XML declaration
};

// Makes signed NFC-e with the real component and the test signer (CNPJ 11222333000181, state MT).
class DocumentMaker {
public:
    explicit DocumentMaker(const std::string& folder) : folder_(folder) {
        testing::installTestCertificate(storeFolder());
        serial_ = fiscal::CertificateStore(storeFolder()).list().at(0).serialNumber;
    }

    std::string storeFolder() const { return folder_ + "/certificados"; }

    // A signed NFC-e of `sale`; in homologation every item carries the homologation description, as
    // the program's item group writes it.
    SignedDocument make(fiscal::testsales::Sale sale, int tpAmb = 2) {
        if (tpAmb == 2)
            for (auto& item : sale.items) item.description = kHomologationItem;
        fiscal::RealFiscalComponent component(storeFolder());
        component.configure(fiscal::ConfigurationArgs{
            .certificateSerial = serial_, .documentFolder = folder_ + "/nfe/", .schemaFolder = kOfficialSchemas,
            .uf = "MT", .model = 65, .layoutUse = "1", .timeoutMs = "30000", .tpAmb = tpAmb, .tpEmis = "1",
            .tpImp = 4, .cnpj = fiscal::testsales::kEmitterCnpj, .cscId = "000001",
            .csc = "0123456789ABCDEF0123456789ABCDEF", .softwareHouseCnpj = "11.222.333/0001-81",
            .softwareHouseName = "QUORVANTI"});
        fiscal::testsales::sendSale(component, sale);
        std::string key;
        fiscal::GenerationArgs args;
        fiscal::SharedTexts shared;
        if (!component.generate(key, args, shared)) throw std::runtime_error("generation failed");
        return SignedDocument{key.substr(3), withoutDeclaration(testing::readFile(args.signedXmlPath))};
    }

    std::shared_ptr<const fiscal::LoadedCertificate> signer() const {
        return fiscal::CertificateStore(storeFolder()).find(serial_);
    }

private:
    std::string folder_;
    std::string serial_;
};

// A certificate read straight from a PKCS#12 file and its password file, as the store would not hand
// out an expired one.
inline std::shared_ptr<const fiscal::LoadedCertificate> loadPkcs12(const std::string& pfx) {
    std::string password = testing::readFile(pfx + ".senha");
    while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) password.pop_back();
    const std::string bytes = testing::readFile(pfx);
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(bytes.data());
    PKCS12* p12 = d2i_PKCS12(nullptr, &cursor, static_cast<long>(bytes.size()));
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    const bool parsed = p12 != nullptr && PKCS12_parse(p12, password.c_str(), &key, &certificate, nullptr) == 1;
    PKCS12_free(p12);
    if (!parsed) throw std::runtime_error("cannot read " + pfx);
    return std::make_shared<fiscal::LoadedCertificate>(fiscal::CertificateInfo{.file = pfx}, key, certificate);
}

// The element at `path` (names of the NF-e namespace) below the root of `document`.
inline xmlNode* elementAt(xmlDoc* document, const std::vector<const char*>& path) {
    xmlNode* node = xmlDocGetRootElement(document);
    for (const char* name : path) node = childElement(node, name, kNfeNamespace);
    if (node == nullptr) throw std::runtime_error("element not found");
    return node;
}

// `xml` (a signed NFe) changed by `change` and signed again by `signer`.
inline std::string resigned(const std::string& xml, const fiscal::LoadedCertificate& signer,
                            const std::function<void(xmlDoc*)>& change = {}) {
    XmlDocument document = parseXml(xml);
    if (!document) throw std::runtime_error("unreadable document");
    if (change) change(document.get());
    fiscal::signNfe(document.get(), signer);
    return serialize(xmlDocGetRootElement(document.get()));
}

inline void setText(xmlDoc* document, const std::vector<const char*>& path, const std::string& text) {
    xmlNodeSetContent(elementAt(document, path), reinterpret_cast<const xmlChar*>(text.c_str()));
}

// Request envelopes as the component writes them.
inline std::string envelope(Service service, const std::string& message) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap12:Envelope xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:soap12=\"http://www.w3.org/2003/05/soap-envelope\">"
           "<soap12:Body><nfeDadosMsg xmlns=\"" +
           serviceNamespace(service) + "\">" + message + "</nfeDadosMsg></soap12:Body></soap12:Envelope>";
}

inline std::string sendRequest(const std::vector<std::string>& documents, bool synchronous = true) {
    std::string message = "<enviNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><idLote>1234</idLote><indSinc>";
    message += synchronous ? "1" : "0";
    message += "</indSinc>";
    for (const std::string& document : documents) message += document;
    return envelope(Service::Authorisation, message + "</enviNFe>");
}

inline std::string consultRequest(const std::string& key, int tpAmb = 2) {
    return envelope(Service::ProtocolConsultation,
                    "<consSitNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><tpAmb>" +
                        std::to_string(tpAmb) + "</tpAmb><xServ>CONSULTAR</xServ><chNFe>" + key + "</chNFe></consSitNFe>");
}

inline std::string receiptRequest(const std::string& receipt) {
    return envelope(Service::ReceiptConsultation,
                    "<consReciNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><tpAmb>2</tpAmb><nRec>" +
                        receipt + "</nRec></consReciNFe>");
}

inline std::string statusRequest(const std::string& cUF = "51", int tpAmb = 2) {
    return envelope(Service::ServiceStatus,
                    "<consStatServ xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><tpAmb>" +
                        std::to_string(tpAmb) + "</tpAmb><cUF>" + cUF + "</cUF><xServ>STATUS</xServ></consStatServ>");
}

// The message inside an answer envelope's nfeResultMsg (which must be in `service`'s namespace), as
// a document of its own; null when the envelope is not such an answer.
inline XmlDocument answerMessage(const std::string& body, Service service) {
    XmlDocument envelopeDocument = parseXml(body);
    xmlNode* soapBody = childElement(rootElement(envelopeDocument.get()), "Body", kSoap12Namespace);
    xmlNode* result = childElement(soapBody, "nfeResultMsg", serviceNamespace(service).c_str());
    xmlNode* message = firstElement(result);
    return message != nullptr ? standaloneCopy(message) : nullptr;
}

// The text at `path` below the root of `message` ("" when absent).
inline std::string field(xmlDoc* message, const std::vector<const char*>& path) {
    xmlNode* node = xmlDocGetRootElement(message);
    for (const char* name : path) node = childElement(node, name, kNfeNamespace);
    return textOf(node);
}

// Whether `xml` is valid against the official schema file `xsd` (e.g. "retEnviNFe_v4.00.xsd");
// libxml2's complaint in `error` when not.
inline bool validAgainst(const std::string& xsd, const std::string& xml, std::string* error = nullptr) {
    // Parsed once per program; freed at exit so that the leak checker sees nothing left behind.
    struct Cache {
        std::mutex mutex;
        std::map<std::string, xmlSchemaPtr> schemas;
        ~Cache() {
            for (auto& entry : schemas) xmlSchemaFree(entry.second);
        }
    };
    static Cache cache;
    std::lock_guard<std::mutex> lock(cache.mutex);
    xmlSchemaPtr& schema = cache.schemas[xsd];
    if (schema == nullptr) {
        xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt((kOfficialSchemas + "/" + xsd).c_str());
        schema = xmlSchemaParse(parser);
        xmlSchemaFreeParserCtxt(parser);
        if (schema == nullptr) throw std::runtime_error("cannot parse " + xsd);
    }
    XmlDocument document = parseXml(xml);
    if (!document) return false;
    std::string messages;
    xmlSchemaValidCtxtPtr context = xmlSchemaNewValidCtxt(schema);
    xmlSchemaSetValidStructuredErrors(
        context,
        [](void* out, xmlErrorPtr problem) {
            if (problem != nullptr && problem->message != nullptr) *static_cast<std::string*>(out) += problem->message;
        },
        &messages);
    const int result = xmlSchemaValidateDoc(context, document.get());
    xmlSchemaFreeValidCtxt(context);
    if (error != nullptr) *error = messages;
    return result == 0;
}

// The message of an answer serialised, for validAgainst.
inline std::string messageXml(xmlDoc* message) { return serialize(xmlDocGetRootElement(message)); }

// The text between the first `open` and the `close` after it ("" when absent).
inline std::string between(const std::string& text, const std::string& open, const std::string& close) {
    const auto start = text.find(open);
    if (start == std::string::npos) return "";
    const auto end = text.find(close, start + open.size());
    return end == std::string::npos ? "" : text.substr(start + open.size(), end - start - open.size());
}

}  // namespace quorvanti::sefaz::testsupport
