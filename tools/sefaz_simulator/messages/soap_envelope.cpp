#include "sefaz_simulator/messages/soap_envelope.h"

#include <libxml/tree.h>

namespace quorvanti::sefaz {

namespace {

constexpr const char* kSoap11Namespace = "http://schemas.xmlsoap.org/soap/envelope/";

SoapRequest fault(FaultCode code, std::string reason) {
    SoapRequest request;
    request.fault = code;
    request.faultReason = std::move(reason);
    return request;
}

}  // namespace

SoapRequest readRequest(std::string_view body, Service service) {
    std::string error;
    XmlDocument envelope = parseXml(body, &error);
    if (!envelope) return fault(FaultCode::Sender, "Envelope SOAP ilegível: " + error);
    xmlNode* root = rootElement(envelope.get());
    if (isElement(root, "Envelope", kSoap11Namespace))
        return fault(FaultCode::VersionMismatch, "Este serviço aceita somente SOAP 1.2 (" + std::string(kSoap12Namespace) + ")");
    if (!isElement(root, "Envelope", kSoap12Namespace))
        return fault(FaultCode::Sender, "O elemento raiz não é soap:Envelope de SOAP 1.2");
    xmlNode* soapBody = childElement(root, "Body", kSoap12Namespace);
    if (soapBody == nullptr) return fault(FaultCode::Sender, "Envelope SOAP sem Body");
    const std::string ns = serviceNamespace(service);
    xmlNode* data = firstElement(soapBody);
    if (!isElement(data, "nfeDadosMsg", ns.c_str()))
        return fault(FaultCode::Sender, "O Body deve trazer nfeDadosMsg no namespace " + ns);
    SoapRequest request;
    request.readable = true;
    if (xmlNode* message = firstElement(data)) request.message = standaloneCopy(message);
    return request;
}

std::string answerEnvelope(Service service, std::string_view messageXml) {
    std::string out;
    out.reserve(messageXml.size() + 400);
    out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    out += "<soap:Envelope xmlns:soap=\"";
    out += kSoap12Namespace;
    out += "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">";
    out += "<soap:Body><nfeResultMsg xmlns=\"";
    out += serviceNamespace(service);
    out += "\">";
    out += messageXml;
    out += "</nfeResultMsg></soap:Body></soap:Envelope>";
    return out;
}

std::string faultEnvelope(FaultCode code, std::string_view reason) {
    const char* value = code == FaultCode::VersionMismatch ? "soap:VersionMismatch"
                        : code == FaultCode::Sender        ? "soap:Sender"
                                                           : "soap:Receiver";
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope xmlns:soap=\"";
    out += kSoap12Namespace;
    out += "\"><soap:Body><soap:Fault><soap:Code><soap:Value>";
    out += value;
    out += "</soap:Value></soap:Code><soap:Reason><soap:Text xml:lang=\"pt-BR\">";
    out += escapeXml(reason);
    out += "</soap:Text></soap:Reason></soap:Fault></soap:Body></soap:Envelope>";
    return out;
}

int faultHttpStatus(FaultCode code) { return code == FaultCode::Sender ? 400 : 500; }

}  // namespace quorvanti::sefaz
