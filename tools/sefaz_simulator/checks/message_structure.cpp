#include "sefaz_simulator/checks/message_structure.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "sefaz_simulator/messages/xml_util.h"

namespace quorvanti::sefaz {

namespace {

bool digitsBetween(const std::string& text, std::size_t min, std::size_t max) {
    return text.size() >= min && text.size() <= max &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// A number without leading zeros, as the layout writes nSeqEvento, serie, nNF.
bool plainNumber(const std::string& text, std::size_t maxDigits) {
    return digitsBetween(text, 1, maxDigits) && (text == "0" || text.front() != '0');
}

// Characters (not bytes) of UTF-8 text.
std::size_t characters(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](unsigned char c) { return (c & 0xC0) != 0x80; }));
}

// "yyyy-mm-ddThh:mm:ss+hh:mm" (or -hh:mm), the layout's date and time with its UTC offset.
bool dateTimeWithOffset(const std::string& text) {
    static const std::string form = "dddd-dd-ddTdd:dd:dd?dd:dd";
    if (text.size() != form.size()) return false;
    for (std::size_t i = 0; i < form.size(); ++i) {
        const char c = text[i];
        const bool fits = form[i] == 'd' ? std::isdigit(static_cast<unsigned char>(c)) != 0
                          : form[i] == '?' ? c == '+' || c == '-'
                                           : c == form[i];
        if (!fits) return false;
    }
    return true;
}

bool justification(const std::string& text) { return characters(text) >= 15 && characters(text) <= 255; }

bool signedLast(xmlNode* parent) { return isElement(lastElement(parent), "Signature", kDsigNamespace); }

// The first of `checks` that fails, as "<name> ausente ou inválido".
struct FieldCheck {
    const char* name;
    bool holds;
};
std::string firstFailure(const std::vector<FieldCheck>& checks) {
    for (const FieldCheck& check : checks)
        if (!check.holds) return std::string(check.name) + " ausente ou inválido";
    return "";
}

std::string eventProblem(xmlNode* evento) {
    xmlNode* info = childElement(evento, "infEvento", kNfeNamespace);
    xmlNode* detail = childElement(info, "detEvento", kNfeNamespace);
    const std::string type = childText(info, "tpEvento");
    const std::string cnpj = childText(info, "CNPJ");
    const bool substitution = type == "110112";
    const char* description = substitution ? "Cancelamento por substituicao" : "Cancelamento";
    const std::string problem = firstFailure({
        {"versao do evento", attributeOf(evento, "versao") == "1.00"},
        {"infEvento", info != nullptr && !attributeOf(info, "Id").empty()},
        {"cOrgao", digitsBetween(childText(info, "cOrgao"), 2, 2)},
        {"tpAmb", childText(info, "tpAmb") == "1" || childText(info, "tpAmb") == "2"},
        {"CNPJ", cnpj.empty() ? digitsBetween(childText(info, "CPF"), 11, 11) : digitsBetween(cnpj, 14, 14)},
        {"chNFe", digitsBetween(childText(info, "chNFe"), 44, 44)},
        {"dhEvento", dateTimeWithOffset(childText(info, "dhEvento"))},
        {"tpEvento (110111 ou 110112)", type == "110111" || substitution},
        {"nSeqEvento", plainNumber(childText(info, "nSeqEvento"), 2)},
        {"verEvento", childText(info, "verEvento") == "1.00"},
        {"detEvento", detail != nullptr && attributeOf(detail, "versao") == "1.00"},
        {"descEvento", childText(detail, "descEvento") == description},
        {"nProt", digitsBetween(childText(detail, "nProt"), 15, 15) || digitsBetween(childText(detail, "nProt"), 17, 17)},
        {"xJust", justification(childText(detail, "xJust"))},
        {"Signature", signedLast(evento)},
    });
    if (!problem.empty() || !substitution) return problem;
    return firstFailure({
        {"cOrgaoAutor", digitsBetween(childText(detail, "cOrgaoAutor"), 2, 2)},
        {"tpAutor", childText(detail, "tpAutor") == "1"},
        {"verAplic", characters(childText(detail, "verAplic")) >= 1 && characters(childText(detail, "verAplic")) <= 20},
        {"chNFeRef", digitsBetween(childText(detail, "chNFeRef"), 44, 44)},
    });
}

}  // namespace

std::string eventBatchProblem(xmlNode* root) {
    if (!isElement(root, "envEvento", kNfeNamespace)) return "a mensagem não é envEvento";
    const std::vector<xmlNode*> events = childElements(root, "evento", kNfeNamespace);
    const std::string problem = firstFailure({
        {"versao do envEvento (1.00)", attributeOf(root, "versao") == "1.00"},
        {"idLote", digitsBetween(childText(root, "idLote"), 1, 15)},
        {"evento (de 1 a 20)", !events.empty() && events.size() <= 20},
    });
    if (!problem.empty()) return problem;
    for (xmlNode* evento : events) {
        if (std::string found = eventProblem(evento); !found.empty()) return found;
    }
    return "";
}

std::string voidingRequestProblem(xmlNode* root) {
    if (!isElement(root, "inutNFe", kNfeNamespace)) return "a mensagem não é inutNFe";
    xmlNode* info = childElement(root, "infInut", kNfeNamespace);
    const std::string model = childText(info, "mod");
    return firstFailure({
        {"versao do inutNFe (4.00)", attributeOf(root, "versao") == "4.00"},
        {"infInut", info != nullptr && !attributeOf(info, "Id").empty()},
        {"tpAmb", childText(info, "tpAmb") == "1" || childText(info, "tpAmb") == "2"},
        {"xServ (INUTILIZAR)", childText(info, "xServ") == "INUTILIZAR"},
        {"cUF", digitsBetween(childText(info, "cUF"), 2, 2)},
        {"ano", digitsBetween(childText(info, "ano"), 2, 2)},
        {"CNPJ", digitsBetween(childText(info, "CNPJ"), 14, 14)},
        {"mod", model == "55" || model == "65"},
        {"serie", plainNumber(childText(info, "serie"), 3)},
        {"nNFIni", plainNumber(childText(info, "nNFIni"), 9) && childText(info, "nNFIni") != "0"},
        {"nNFFin", plainNumber(childText(info, "nNFFin"), 9) && childText(info, "nNFFin") != "0"},
        {"xJust", justification(childText(info, "xJust"))},
        {"Signature", signedLast(root)},
    });
}

}  // namespace quorvanti::sefaz
