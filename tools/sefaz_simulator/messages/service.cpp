#include "sefaz_simulator/messages/service.h"

namespace quorvanti::sefaz {

std::string_view serviceName(Service service) {
    switch (service) {
    case Service::Authorisation: return "NFeAutorizacao4";
    case Service::ReceiptConsultation: return "NFeRetAutorizacao4";
    case Service::ProtocolConsultation: return "NFeConsultaProtocolo4";
    case Service::ServiceStatus: return "NFeStatusServico4";
    case Service::EventReception: return "NFeRecepcaoEvento4";
    case Service::NumberVoiding: return "NFeInutilizacao4";
    }
    return "";
}

std::string serviceNamespace(Service service) {
    return "http://www.portalfiscal.inf.br/nfe/wsdl/" + std::string(serviceName(service));
}

std::optional<Service> serviceFromPath(std::string_view path) {
    const auto slash = path.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    for (const Service service : kAllServices) {
        if (last == serviceName(service)) return service;
    }
    return std::nullopt;
}

}  // namespace quorvanti::sefaz
