#include "fiscal_component/document/event_documents.h"

#include <cstdio>

#include "fiscal_component/document/access_key.h"
#include "fiscal_component/document/nfce_format.h"
#include "fiscal_component/document/xml_names.h"
#include "fiscal_component/interface/fiscal_component.h"

namespace quorvanti::fiscal {

namespace {

constexpr std::size_t kJustMin = 15;
constexpr std::size_t kJustMax = 255;
constexpr std::int64_t kMaxNumber = 999999999;
constexpr std::int64_t kMaxRange = 10000;
constexpr std::int64_t kMaxBatch = 999999999999999;

std::string element(std::string_view name, std::string_view escapedContent) {
    std::string out;
    out.reserve(2 * name.size() + escapedContent.size() + 5);
    out += '<';
    out += name;
    out += '>';
    out += escapedContent;
    out += "</";
    out += name;
    out += '>';
    return out;
}

std::string padded(std::int64_t value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    return digits;
}

// The reason as the layout's TJust takes it (blanks reduced as in the NFC-e's texts), escaped.
std::string justification(std::string_view xJust) {
    const std::string text = layoutText(xJust, "Justificativa");
    const std::size_t count = characterCount(text);
    if (count < kJustMin || count > kJustMax)
        throw ComponentError("Justificativa com " + std::to_string(count) +
                             " caracteres: informe de 15 a 255 caracteres");
    return xmlEscape(text);
}

// Whether an IBGE code names a state ("51" is MT's).
bool knownStateCode(std::string_view code) {
    static constexpr const char* kStates[] = {"RO", "AC", "AM", "RR", "PA", "AP", "TO", "MA", "PI",
                                              "CE", "RN", "PB", "PE", "AL", "SE", "BA", "MG", "ES",
                                              "RJ", "SP", "PR", "SC", "RS", "MS", "MT", "GO", "DF"};
    for (const char* uf : kStates)
        if (ufCode(uf) == code) return true;
    return false;
}

std::string issuerState(const EventIssuer& issuer) {
    const std::string code = ufCode(issuer.uf);
    if (code.empty()) throw ComponentError("UF do emitente '" + issuer.uf + "' desconhecida");
    return code;
}

std::string issuerCnpj(const EventIssuer& issuer) {
    const std::string cnpj = trimmed(issuer.cnpj);
    if (cnpj.size() != 14 || !isDigits(cnpj))
        throw ComponentError("CNPJ do emitente '" + issuer.cnpj + "' inválido: são 14 dígitos");
    return cnpj;
}

int issuerEnvironment(const EventIssuer& issuer) {
    if (issuer.tpAmb != 1 && issuer.tpAmb != 2)
        throw ComponentError("Ambiente " + std::to_string(issuer.tpAmb) + " inválido: use 1 (produção) ou 2 (homologação)");
    return issuer.tpAmb;
}

std::string accessKeyOf(std::string_view key, std::string_view what) {
    const std::string digits = trimmed(key);
    if (digits.size() != 44 || !isDigits(digits))
        throw ComponentError(std::string(what) + " '" + std::string(key) + "' inválida: são 44 dígitos");
    return digits;
}

bool digitAt(std::string_view text, std::size_t at) { return text[at] >= '0' && text[at] <= '9'; }

// yyyy-mm-ddThh:mm:ss±hh:mm
bool dateTimeWithOffset(std::string_view text) {
    if (text.size() != 25) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        switch (i) {
        case 4:
        case 7: if (text[i] != '-') return false; break;
        case 10: if (text[i] != 'T') return false; break;
        case 13:
        case 16:
        case 22: if (text[i] != ':') return false; break;
        case 19: if (text[i] != '-' && text[i] != '+') return false; break;
        default: if (!digitAt(text, i)) return false;
        }
    }
    return true;
}

}  // namespace

std::string dateTimeWithOffset(platform::Instant instant, std::chrono::seconds offset) {
    const platform::LocalDateTime t = platform::dateTimeAt(instant, offset);
    const long long minutes = std::chrono::duration_cast<std::chrono::minutes>(offset < std::chrono::seconds{0} ? -offset : offset).count();
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02lld:%02lld", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, offset < std::chrono::seconds{0} ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

UnsignedRequest eventoRequest(const EventArgs& args, const EventIssuer& issuer) {
    const bool substitution = args.tpEvento == kCancellationBySubstitution;
    if (args.tpEvento != kCancellation && !substitution)
        throw ComponentError("Evento " + std::to_string(args.tpEvento) +
                             " não suportado: use 110111 (cancelamento) ou 110112 (cancelamento por substituição)");
    const std::string key = accessKeyOf(args.accessKey, "Chave de acesso");
    const std::string cOrgao = key.substr(0, 2);
    if (!knownStateCode(cOrgao))
        throw ComponentError("Chave de acesso '" + key + "' inválida: " + cOrgao + " não é o código de uma UF");
    const std::string chNFeRef = substitution ? accessKeyOf(args.chNFeRef, "Chave da NFC-e substituta") : "";
    if (substitution && chNFeRef == key)
        throw ComponentError("A NFC-e substituta não pode ser a própria NFC-e cancelada (" + key + ")");
    const std::string nProt = trimmed(args.nProt);
    if ((nProt.size() != 15 && nProt.size() != 17) || !isDigits(nProt))
        throw ComponentError("Protocolo de autorização '" + args.nProt + "' inválido: são 15 ou 17 dígitos");
    if (args.nSeqEvento < 1 || args.nSeqEvento > 20)
        throw ComponentError("Sequência do evento " + std::to_string(args.nSeqEvento) + " inválida: de 1 a 20");
    if (args.idLote < 0 || args.idLote > kMaxBatch)
        throw ComponentError("Número do lote " + std::to_string(args.idLote) + " inválido: até 15 dígitos");
    const std::string xJust = justification(args.xJust);
    const std::string dhEvento = trimmed(args.dhEvento);
    if (!dateTimeWithOffset(dhEvento))
        throw ComponentError("Data e hora do evento '" + args.dhEvento +
                             "' inválida: use aaaa-mm-ddThh:mm:ss-hh:mm (com o fuso horário)");
    const std::string cUF = issuerState(issuer);
    const std::string cnpj = issuerCnpj(issuer);
    const int tpAmb = issuerEnvironment(issuer);
    const std::string verAplic = substitution ? layoutText(issuer.verAplic, "Versão do aplicativo") : "";
    if (substitution && (verAplic.empty() || characterCount(verAplic) > 20))
        throw ComponentError("Versão do aplicativo '" + issuer.verAplic + "' inválida: de 1 a 20 caracteres");

    const std::string tpEvento = std::to_string(args.tpEvento);
    UnsignedRequest request;
    request.id = "ID" + tpEvento + key + padded(args.nSeqEvento, 2);
    std::string detail = substitution
                             ? element("descEvento", "Cancelamento por substituicao") + element("cOrgaoAutor", cUF) +
                                   element("tpAutor", "1") + element("verAplic", xmlEscape(verAplic)) +
                                   element("nProt", nProt) + element("xJust", xJust) + element("chNFeRef", chNFeRef)
                             : element("descEvento", "Cancelamento") + element("nProt", nProt) + element("xJust", xJust);
    request.xml = std::string("<evento xmlns=\"") + kNfeNamespace + "\" versao=\"1.00\"><infEvento Id=\"" + request.id +
                  "\">" + element("cOrgao", cOrgao) + element("tpAmb", std::to_string(tpAmb)) +
                  element("CNPJ", cnpj) + element("chNFe", key) + element("dhEvento", dhEvento) +
                  element("tpEvento", tpEvento) + element("nSeqEvento", std::to_string(args.nSeqEvento)) +
                  element("verEvento", "1.00") + "<detEvento versao=\"1.00\">" + detail +
                  "</detEvento></infEvento></evento>";
    return request;
}

UnsignedRequest inutNFeRequest(const VoidingArgs& args, const EventIssuer& issuer) {
    if (args.series < 0 || args.series > 999)
        throw ComponentError("Série " + std::to_string(args.series) + " inválida: de 0 a 999");
    for (const std::int64_t number : {args.fromNumber, args.toNumber}) {
        if (number < 1 || number > kMaxNumber)
            throw ComponentError("Número " + std::to_string(number) + " fora da numeração da NFC-e (1 a 999999999)");
    }
    if (args.fromNumber > args.toNumber)
        throw ComponentError("Faixa a inutilizar inválida: o número inicial " + std::to_string(args.fromNumber) +
                             " é maior que o final " + std::to_string(args.toNumber));
    if (args.toNumber - args.fromNumber + 1 > kMaxRange)
        throw ComponentError("Faixa a inutilizar de " + std::to_string(args.toNumber - args.fromNumber + 1) +
                             " números: no máximo 10000 por pedido");
    int year = args.year;
    if (year >= 2000 && year <= 2099) year -= 2000;
    if (year < 1 || year > 99)
        throw ComponentError("Ano " + std::to_string(args.year) + " inválido: informe os dois dígitos do ano");
    const std::string xJust = justification(args.xJust);
    const std::string cUF = issuerState(issuer);
    const std::string cnpj = issuerCnpj(issuer);
    const int tpAmb = issuerEnvironment(issuer);

    const std::string ano = padded(year, 2);
    UnsignedRequest request;
    request.id = "ID" + cUF + ano + cnpj + "65" + padded(args.series, 3) + padded(args.fromNumber, 9) +
                 padded(args.toNumber, 9);
    request.xml = std::string("<inutNFe xmlns=\"") + kNfeNamespace + "\" versao=\"4.00\"><infInut Id=\"" + request.id +
                  "\">" + element("tpAmb", std::to_string(tpAmb)) + element("xServ", "INUTILIZAR") +
                  element("cUF", cUF) + element("ano", ano) + element("CNPJ", cnpj) + element("mod", "65") +
                  element("serie", std::to_string(args.series)) + element("nNFIni", std::to_string(args.fromNumber)) +
                  element("nNFFin", std::to_string(args.toNumber)) + element("xJust", xJust) + "</infInut></inutNFe>";
    return request;
}

std::string envEventoMessage(std::string_view evento, std::int64_t idLote) {
    std::string out;
    out.reserve(evento.size() + 128);
    out += "<envEvento xmlns=\"";
    out += kNfeNamespace;
    out += "\" versao=\"1.00\"><idLote>";
    out += std::to_string(idLote);
    out += "</idLote>";
    out += evento;
    out += "</envEvento>";
    return out;
}

std::string emptyInutNFeMessage() {
    return std::string("<inutNFe xmlns=\"") + kNfeNamespace + "\" versao=\"4.00\"></inutNFe>";
}

std::string procEventoDocument(std::string_view evento, std::string_view retEvento) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<procEventoNFe xmlns=\"";
    out += kNfeNamespace;
    out += "\" versao=\"1.00\">";
    out += evento;
    out += retEvento;
    out += "</procEventoNFe>";
    return out;
}

std::string procInutDocument(std::string_view inutNFe, std::string_view retInutNFe) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ProcInutNFe xmlns=\"";
    out += kNfeNamespace;
    out += "\" versao=\"4.00\">";
    out += inutNFe;
    out += retInutNFe;
    out += "</ProcInutNFe>";
    return out;
}

std::string eventFileStem(std::string_view accessKey, std::int32_t tpEvento, std::int32_t nSeqEvento) {
    return std::string(accessKey) + "-" + std::to_string(tpEvento) + "-" + std::to_string(nSeqEvento);
}

std::string voidingFileStem(std::string_view infInutId) {
    return std::string(infInutId.substr(0, 2) == "ID" ? infInutId.substr(2) : infInutId);
}

}  // namespace quorvanti::fiscal
