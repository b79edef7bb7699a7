// Helpers of the local authority's tests: signed NFC-e changed and signed again where a test needs a
// faulty one, the request envelopes the component sends, the message inside an answer, and the fixture
// that drives the authority directly.
#pragma once

// The argument records are filled with designated initialisers, which leave the other members
// value-initialised as intended; GCC's -Wextra still reports each omitted member.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

#include <libxml/tree.h>

#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "fiscal_component/sefaz/soap_transport.h"
#include "fiscal_component/sefaz/web_services.h"
#include "fiscal_component/signing/xml_signer.h"
#include "sefaz_simulator/authority.h"
#include "sefaz_simulator/messages/service.h"
#include "sefaz_simulator/messages/soap_envelope.h"
#include "sefaz_simulator/messages/xml_util.h"
#include "support/shared_data.h"
#include "support/sefaz_process.h"
#include "support/signed_nfce.h"
#include "support/temp_dir.h"

namespace quorvanti::sefaz::testsupport {

using testing::between;
using testing::kExampleAuthority;
using testing::kExampleDocument;
using testing::kOfficialSchemas;
using testing::validAgainst;
using testing::withoutDeclaration;
using SignedDocument = testing::SignedNfce;
using DocumentMaker = testing::SignedNfceMaker;

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

// Requests as the component writes them.
inline std::string sendRequest(const std::string& documents) {
    return fiscal::soapEnvelope(fiscal::WebService::Authorisation, fiscal::enviNFeMessage(documents, 1234, 1));
}

inline std::string consultRequest(const std::string& key) {
    return fiscal::soapEnvelope(fiscal::WebService::ProtocolConsultation, fiscal::consSitNFeMessage(2, key));
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

// The local authority driven directly, on a state folder and a scenario file of a temporary folder,
// with documents of the test signer; restart() is a restart of the program.
class AuthorityTest : public ::testing::Test {
protected:
    AuthorityTest() : maker(dir.file("emitente")) {
        settings.uf = "MT";
        settings.environment = 2;
        settings.schemaFolder = kOfficialSchemas;
        settings.clock = [this] { return now; };
        settings.cscs = {{"1", "0123456789ABCDEF0123456789ABCDEF"}};  // the test signer's documents
    }
    void SetUp() override { QUORVANTI_SKIP_WITHOUT_SHARED(); }

    Authority& authority() {
        if (!authority_) {
            store_ = std::make_unique<StateStore>(stateFolder);
            scenario_ = std::make_unique<ScenarioFile>(scenarioPath);
            authority_ = std::make_unique<Authority>(settings, *store_, *scenario_);
        }
        return *authority_;
    }

    // As a restart of the program: everything in memory is gone, the state folder stays.
    void restart() {
        authority_.reset();
        scenario_.reset();
        store_.reset();
    }

    // A SOAP answer's message, checked against the official schema of the service's answer.
    XmlDocument call(Service service, const std::string& body, const char* schema) {
        const Reply reply = authority().answer(service, body);
        EXPECT_EQ(reply.httpStatus, 200) << reply.body;
        EXPECT_EQ(reply.contentType, "application/soap+xml; charset=utf-8");
        EXPECT_FALSE(reply.drop);
        XmlDocument message = answerMessage(reply.body, service);
        if (!message) {
            ADD_FAILURE() << "not an answer of " << serviceName(service) << ": " << reply.body;
            return message;
        }
        const std::string xml = serialize(xmlDocGetRootElement(message.get()));
        std::string problem;
        EXPECT_TRUE(validAgainst(schema, xml, &problem)) << problem << "\n" << xml;
        return message;
    }

    XmlDocument send(const std::string& document) {
        return call(Service::Authorisation, sendRequest(document), "retEnviNFe_v4.00.xsd");
    }
    XmlDocument consult(const std::string& key) {
        return call(Service::ProtocolConsultation, consultRequest(key), "retConsSitNFe_v4.00.xsd");
    }

    std::string protocolStatus(xmlDoc* answer) { return field(answer, prot("cStat")); }
    // The texts at `paths` below the root of `answer`, joined by "|".
    static std::string texts(xmlDoc* answer, std::initializer_list<std::vector<const char*>> paths) {
        std::string out;
        for (const auto& path : paths) out += (&path == paths.begin() ? "" : "|") + field(answer, path);
        return out;
    }
    static std::vector<const char*> prot(const char* name) { return {"protNFe", "infProt", name}; }

    testing::TempDir dir;
    DocumentMaker maker;
    std::time_t now = std::time(nullptr);
    AuthoritySettings settings;
    std::string stateFolder = dir.file("estado");
    std::string scenarioPath = dir.file("cenario.txt");

private:
    std::unique_ptr<StateStore> store_;
    std::unique_ptr<ScenarioFile> scenario_;
    std::unique_ptr<Authority> authority_;
};

}  // namespace quorvanti::sefaz::testsupport
