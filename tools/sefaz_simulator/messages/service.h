// The four NFC-e web services the local authority serves: their names (the last segment of the address
// and of the WSDL namespace) and the namespace of their SOAP messages.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvanti::sefaz {

enum class Service { Authorisation, ReceiptConsultation, ProtocolConsultation, ServiceStatus };

inline constexpr Service kAllServices[] = {Service::Authorisation, Service::ReceiptConsultation,
                                           Service::ProtocolConsultation, Service::ServiceStatus};

// "NFeAutorizacao4", "NFeRetAutorizacao4", "NFeConsultaProtocolo4", "NFeStatusServico4".
std::string_view serviceName(Service service);

// "http://www.portalfiscal.inf.br/nfe/wsdl/" + the service's name: the namespace of nfeDadosMsg and
// nfeResultMsg.
std::string serviceNamespace(Service service);

// The service whose name ends `path` (an address path such as "/nfcews/services/NFeAutorizacao4");
// nothing for any other path. Names are compared exactly, as the authority's servers do.
std::optional<Service> serviceFromPath(std::string_view path);

}  // namespace quorvanti::sefaz
