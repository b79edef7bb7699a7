// The NFC-e web services the local authority serves: their names (the last segment of the address and
// of the WSDL namespace) and the namespace of their SOAP messages.
#pragma once

#include <cstddef>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace quorvanti::sefaz {

enum class Service {
    Authorisation,
    ReceiptConsultation,
    ProtocolConsultation,
    ServiceStatus,
    EventReception,  // fiscal events (cancellation, cancellation by substitution)
    NumberVoiding,   // inutilização of unused numbers
};

inline constexpr Service kAllServices[] = {Service::Authorisation,  Service::ReceiptConsultation,
                                           Service::ProtocolConsultation, Service::ServiceStatus,
                                           Service::EventReception, Service::NumberVoiding};
inline constexpr std::size_t kServiceCount = std::size(kAllServices);

// "NFeAutorizacao4", "NFeRetAutorizacao4", "NFeConsultaProtocolo4", "NFeStatusServico4",
// "NFeRecepcaoEvento4", "NFeInutilizacao4".
std::string_view serviceName(Service service);

// "http://www.portalfiscal.inf.br/nfe/wsdl/" + the service's name: the namespace of nfeDadosMsg and
// nfeResultMsg.
std::string serviceNamespace(Service service);

// The service whose name ends `path` (an address path such as "/nfcews/services/NFeAutorizacao4");
// nothing for any other path. Names are compared exactly, as the authority's servers do.
std::optional<Service> serviceFromPath(std::string_view path);

}  // namespace quorvanti::sefaz
