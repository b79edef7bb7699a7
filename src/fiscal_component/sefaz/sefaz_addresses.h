// Where the tax authority's NFC-e web services are and how to reach them: the address of each service
// for a state and environment (built-in defaults, overridden by "<documentFolder>webservices.ini"), the
// authority file that verifies the servers' TLS certificates and the time-out of a call.
// webservices.ini: section "<UF>_<tpAmb>" (for example "MT_2") with keys "NFeAutorizacao4",
// "NFeRetAutorizacao4", "NFeConsultaProtocolo4", "NFeStatusServico4", "NFeRecepcaoEvento4" (fiscal
// events: cancellation) and "NFeInutilizacao4" (voiding of numbers) (the QR code keys of the same
// section belong to qr_code.h; only these may be http, being public pages); section "TLS" with key "CA" (a PEM file of trusted authorities, relative
// to the document folder unless absolute; default: the system's bundle) and "TimeoutMs". Pure reads of
// the file at each call, so an edited file counts at the next call; safe from any thread.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace quorvanti::fiscal {

enum class WebService {
    Authorisation,
    ReceiptConsultation,
    ProtocolConsultation,
    ServiceStatus,
    EventReception,
    Voiding,
};

// "NFeAutorizacao4", "NFeRetAutorizacao4", "NFeConsultaProtocolo4", "NFeStatusServico4",
// "NFeRecepcaoEvento4", "NFeInutilizacao4": the key of webservices.ini and the last segment of the address and of the WSDL namespace.
std::string_view webServiceName(WebService service);

// "http://www.portalfiscal.inf.br/nfe/wsdl/" + the service's name: the namespace of nfeDadosMsg and
// nfeResultMsg.
std::string webServiceNamespace(WebService service);

// The operation of the service's WSDL, as the SOAP action parameter names it
// (".../NFeAutorizacao4/nfeAutorizacaoLote").
std::string webServiceAction(WebService service);

// The section of webservices.ini for a state and environment: "MT_2" (state upper-cased, trimmed).
std::string stateEnvironmentSection(std::string_view uf, int tpAmb);

// The path of webservices.ini in `documentFolder` (with or without its final "/").
std::string webServicesIniPath(const std::string& documentFolder);

// The built-in address of `service` for `uf` and `tpAmb` (1 production, 2 homologation); "" where none
// is known (only MT's published NFC-e addresses are built in: one base address per environment, the
// service's name after it, for all six services).
std::string builtInServiceAddress(std::string_view uf, int tpAmb, WebService service);

// The address is neither built in nor configured, or the configured one is not https (the authority is
// only reached with its server verified); the description names the file, section and key to set.
class AddressError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The address in force: the key of webservices.ini when present, else the built-in one. Raises
// AddressError when there is neither, or when the configured address does not begin with https://.
std::string serviceAddress(std::string_view uf, int tpAmb, WebService service, const std::string& documentFolder);

// How calls are made: the authority file verifying the server (path, "" = the system's bundle) and the
// time-out in milliseconds.
struct ConnectionSettings {
    std::string caFile;
    long timeoutMs = 30000;
};

// `configuredTimeoutMs` is the configuration's text ("30000"); key TimeoutMs of section TLS replaces it.
// A value that is not a positive number of milliseconds counts as 30000.
ConnectionSettings connectionSettings(const std::string& documentFolder, std::string_view configuredTimeoutMs);

}  // namespace quorvanti::fiscal
