#include "fiscal_component/sefaz/sefaz_addresses.h"

#include <cctype>
#include <charconv>

#include "fiscal_component/document/nfce_format.h"
#include "platform/folders.h"
#include "platform/ini_file.h"

namespace quorvanti::fiscal {

namespace {

constexpr long kDefaultTimeoutMs = 30000;

std::string upperTrimmed(std::string_view text) {
    std::string out = trimmed(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

std::string_view webServiceName(WebService service) {
    switch (service) {
    case WebService::Authorisation: return "NFeAutorizacao4";
    case WebService::ReceiptConsultation: return "NFeRetAutorizacao4";
    case WebService::ProtocolConsultation: return "NFeConsultaProtocolo4";
    case WebService::ServiceStatus: return "NFeStatusServico4";
    case WebService::EventReception: return "NFeRecepcaoEvento4";
    case WebService::Voiding: return "NFeInutilizacao4";
    }
    return "";
}

std::string webServiceNamespace(WebService service) {
    return "http://www.portalfiscal.inf.br/nfe/wsdl/" + std::string(webServiceName(service));
}

std::string webServiceAction(WebService service) {
    const char* operation = "";
    switch (service) {
    case WebService::Authorisation: operation = "nfeAutorizacaoLote"; break;
    case WebService::ReceiptConsultation: operation = "nfeRetAutorizacaoLote"; break;
    case WebService::ProtocolConsultation: operation = "nfeConsultaNF"; break;
    case WebService::ServiceStatus: operation = "nfeStatusServicoNF"; break;
    case WebService::EventReception: operation = "nfeRecepcaoEvento"; break;
    case WebService::Voiding: operation = "nfeInutilizacaoNF"; break;
    }
    return webServiceNamespace(service) + "/" + operation;
}

std::string stateEnvironmentSection(std::string_view uf, int tpAmb) {
    return upperTrimmed(uf) + "_" + std::to_string(tpAmb);
}

std::string webServicesIniPath(const std::string& documentFolder) {
    return platform::withTrailingSlash(documentFolder) + "webservices.ini";
}

std::string builtInServiceAddress(std::string_view uf, int tpAmb, WebService service) {
    if (upperTrimmed(uf) != "MT") return "";
    const char* base = tpAmb == 1   ? "https://nfce.sefaz.mt.gov.br/nfcews/services/"
                       : tpAmb == 2 ? "https://homologacao.sefaz.mt.gov.br/nfcews/services/"
                                    : nullptr;
    return base == nullptr ? std::string() : base + std::string(webServiceName(service));
}

std::string serviceAddress(std::string_view uf, int tpAmb, WebService service, const std::string& documentFolder) {
    const std::string ini = webServicesIniPath(documentFolder);
    const std::string section = stateEnvironmentSection(uf, tpAmb);
    const std::string key(webServiceName(service));
    if (std::string configured = trimmed(platform::iniRead(ini, section, key)); !configured.empty()) {
        // Plain http would send the signed documents to whoever answers, unverified.
        std::string scheme = configured.substr(0, 8);
        for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (scheme != "https://")
            throw AddressError("Endereço do serviço " + key + " da UF " + upperTrimmed(uf) + " (ambiente " +
                               std::to_string(tpAmb) + ") recusado: \"" + configured + "\" em " + ini + ", seção [" +
                               section + "], chave " + key +
                               ": a SEFAZ só é acessada por https://, com o certificado do servidor verificado");
        return configured;
    }
    if (std::string builtIn = builtInServiceAddress(uf, tpAmb, service); !builtIn.empty()) return builtIn;
    throw AddressError("Endereço do serviço " + key + " da UF " + upperTrimmed(uf) + " (ambiente " +
                              std::to_string(tpAmb) + ") desconhecido: informe-o em " + ini + ", seção [" + section +
                              "], chave " + key);
}

ConnectionSettings connectionSettings(const std::string& documentFolder, std::string_view configuredTimeoutMs) {
    const std::string ini = webServicesIniPath(documentFolder);
    ConnectionSettings settings;
    if (std::string ca = platform::iniRead(ini, "TLS", "CA"); !ca.empty()) {
        settings.caFile = ca.front() == '/' ? ca : platform::withTrailingSlash(documentFolder) + ca;
    }
    const auto parse = [](std::string_view text) -> long {
        const std::string digits = trimmed(text);
        long value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || value <= 0) return 0;
        return value;
    };
    settings.timeoutMs = kDefaultTimeoutMs;
    if (const long configured = parse(configuredTimeoutMs); configured > 0) settings.timeoutMs = configured;
    if (const long overridden = parse(platform::iniRead(ini, "TLS", "TimeoutMs")); overridden > 0) {
        settings.timeoutMs = overridden;
    }
    return settings;
}

}  // namespace quorvanti::fiscal
