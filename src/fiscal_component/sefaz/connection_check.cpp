#include "fiscal_component/sefaz/connection_check.h"

#include <libxml/tree.h>

#include "fiscal_component/document/access_key.h"
#include "fiscal_component/document/event_documents.h"
#include "fiscal_component/document/nfce_format.h"
#include "fiscal_component/document/schema_validation.h"
#include "fiscal_component/document/xml_names.h"

namespace quorvanti::fiscal {

namespace {

// A receipt and a key that no document has: the consultations answer "not found" or a rejection of the
// number, and either is an answer.
const std::string kNoReceipt(15, '0');
const std::string kNoKey(44, '0');

std::string childText(xmlNode* parent, const char* name) {
    xmlNode* node = childElement(parent, name, kNfeNamespace);
    if (node == nullptr) return "";
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? trimmed(reinterpret_cast<const char*>(content)) : "";
    xmlFree(content);
    return text;
}

struct Probe {
    std::string message;
    const char* answer;
};

Probe probeOf(WebService service, const WebServiceSettings& settings) {
    switch (service) {
    case WebService::Authorisation: return {enviNFeMessage("", 1, 1), "retEnviNFe"};
    case WebService::ReceiptConsultation: return {consReciNFeMessage(settings.tpAmb, kNoReceipt), "retConsReciNFe"};
    case WebService::ProtocolConsultation: return {consSitNFeMessage(settings.tpAmb, kNoKey), "retConsSitNFe"};
    case WebService::EventReception: return {envEventoMessage("", 1), "retEnvEvento"};
    case WebService::Voiding: return {emptyInutNFeMessage(), "retInutNFe"};
    case WebService::ServiceStatus: break;
    }
    return {consStatServMessage(settings.tpAmb, ufCode(settings.uf)), "retConsStatServ"};
}

}  // namespace

std::vector<ServiceCheck> checkWebServices(const WebServiceSettings& settings, const CertificateSource& certificate,
                                           const SoapTransport& transport) {
    initialiseXmlLibrary();
    std::vector<ServiceCheck> checks;
    for (const WebService service : kComponentServices) {
        ServiceCheck& check = checks.emplace_back();
        check.service = service;
        try {
            check.address = serviceAddress(settings.uf, settings.tpAmb, service, settings.documentFolder);
        } catch (const AddressError& error) {
            check.failure = addressFailure(error.what());
            continue;
        }
        const Probe probe = probeOf(service, settings);
        SoapCall call;
        call.service = service;
        call.url = check.address;
        call.message = probe.message;
        call.certificate = certificate;
        call.connection = connectionSettings(settings.documentFolder, settings.timeoutMs);
        const SoapOutcome outcome = transport(call, probe.answer);
        check.failure = outcome.reading.failure;
        if (!check.failure)
            check.answer = childText(outcome.reading.message, "cStat") + " " + childText(outcome.reading.message, "xMotivo");
    }
    return checks;
}

std::string checkLine(const WebServiceSettings& settings, const ServiceCheck& check) {
    std::string line = "[" + stateEnvironmentSection(settings.uf, settings.tpAmb) + "] " +
                       std::string(webServiceName(check.service)) +
                       (check.address.empty() ? std::string() : " " + check.address) + ": ";
    if (check.failure) line += std::to_string(check.failure.code) + " " + check.failure.text;
    // The other probes ask about nothing (or are refused on purpose); only the status tells something.
    else line += check.service == WebService::ServiceStatus ? "OK (" + check.answer + ")" : "OK";
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return line;
}

}  // namespace quorvanti::fiscal
