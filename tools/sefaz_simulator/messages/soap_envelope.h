// SOAP 1.2 as the authority's web services speak it: reading a request envelope down to the message
// inside nfeDadosMsg, and writing the answer envelope (nfeResultMsg) or a SOAP fault.
#pragma once

#include <string>
#include <string_view>

#include "sefaz_simulator/messages/service.h"
#include "sefaz_simulator/messages/xml_util.h"

namespace quorvanti::sefaz {

inline constexpr const char* kSoap12Namespace = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr const char* kSoapContentType = "application/soap+xml; charset=utf-8";

enum class FaultCode { VersionMismatch, Sender, Receiver };

struct SoapRequest {
    bool readable = false;     // false: answer `fault` with `faultReason`
    FaultCode fault = FaultCode::Sender;
    std::string faultReason;
    // The element inside nfeDadosMsg as a document of its own; null when nfeDadosMsg holds no element
    // (which the service answers as a schema failure, not as a fault).
    XmlDocument message;
};

// Reads a request for `service`: a well-formed SOAP 1.2 Envelope whose Body holds nfeDadosMsg in the
// service's namespace. Headers are ignored (the 4.00 services have none).
SoapRequest readRequest(std::string_view body, Service service);

// The answer envelope: Body/nfeResultMsg in the service's namespace holding `messageXml`.
std::string answerEnvelope(Service service, std::string_view messageXml);

// A SOAP 1.2 fault with `reason` (Portuguese text); and the HTTP status it goes with (400 for the
// sender's faults, 500 otherwise).
std::string faultEnvelope(FaultCode code, std::string_view reason);
int faultHttpStatus(FaultCode code);

}  // namespace quorvanti::sefaz
