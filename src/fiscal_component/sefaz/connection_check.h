// The check of the connection to each web service the component uses for a state and environment, for
// `quorvanti --check-sefaz`: every service gets one message that changes nothing at the authority, over
// the same transport, addresses, trusted authorities and client certificate as the emission. A service
// answers when its expected message comes back, whatever its status (the authorisation service is sent
// a batch without documents, the event reception a batch without events and the voiding an unsigned
// request without a range, which the authority refuses by its schema and does not keep).
#pragma once

#include <string>
#include <vector>

#include "fiscal_component/sefaz/soap_transport.h"
#include "fiscal_component/sefaz/web_services.h"

namespace quorvanti::fiscal {

// Every service the component calls, in the order of an emission, then the events and the voiding.
inline constexpr WebService kComponentServices[] = {WebService::Authorisation, WebService::ReceiptConsultation,
                                                    WebService::ProtocolConsultation, WebService::ServiceStatus,
                                                    WebService::EventReception, WebService::Voiding};

struct ServiceCheck {
    WebService service = WebService::ServiceStatus;
    std::string address;       // "" when none is configured or built in
    TransportFailure failure;  // code 0: the service answered
    std::string answer;        // "107 Serviço em Operação": the status the service answered, when it did
};

// One call per service of kComponentServices, in that order.
std::vector<ServiceCheck> checkWebServices(const WebServiceSettings& settings, const CertificateSource& certificate,
                                           const SoapTransport& transport = callWebService);

// One line: "[MT_2] NFeStatusServico4 https://...: OK (107 Serviço em Operação)" ("OK" alone for the
// other services, whose probes are refused on purpose), or the failure's code and text in place of OK.
std::string checkLine(const WebServiceSettings& settings, const ServiceCheck& check);

}  // namespace quorvanti::fiscal
