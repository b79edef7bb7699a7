// NFeInutilizacao4: voiding a range of unused numbers of an emitter's model and series. The rules are
// listed in authority.h.
#include <libxml/tree.h>

#include "fiscal_component/document/document_validator.h"
#include "sefaz_simulator/authority.h"
#include "sefaz_simulator/checks/message_structure.h"
#include "sefaz_simulator/messages/message_fields.h"
#include "sefaz_simulator/messages/status_texts.h"
#include "sefaz_simulator/messages/xml_util.h"

namespace quorvanti::sefaz {

namespace {

constexpr const char* kVoidingVersion = "4.00";
constexpr long kMaxVoidedNumbers = 10000;

}  // namespace

std::string Authority::voidingSchemaProblem(xmlDoc* message) {
    xmlNode* root = rootElement(message);
    if (settings_.schemaFolder.empty()) return voidingRequestProblem(root);
    if (!isElement(root, "inutNFe", kNfeNamespace)) return "a mensagem não é inutNFe";
    const MessageSchemaVerdict verdict = messageSchemas_.validate(message, "inutNFe_v4.00.xsd");
    return verdict.valid ? "" : verdict.message;
}

std::string Authority::voidNumbers(xmlDoc* message, Call& call) {
    xmlNode* root = rootElement(message);
    xmlNode* info = childElement(root, "infInut", kNfeNamespace);
    const std::string cUF = childText(info, "cUF");
    const std::string year = childText(info, "ano");
    const std::string cnpj = childText(info, "CNPJ");
    const std::string model = childText(info, "mod");
    const std::string series = childText(info, "serie");
    const std::string first = childText(info, "nNFIni");
    const std::string last = childText(info, "nNFFin");
    // The request's fields are repeated in the answer once the schema has vouched for them.
    bool echo = false;
    const auto answer = [&](int cStat, const std::string& xMotivo, const std::string& dh = "",
                            const std::string& nProt = "") {
        std::string out =
            std::string("<retInutNFe versao=\"") + kVoidingVersion + "\" xmlns=\"" + kNfeNamespace + "\">";
        out += nProt.empty() ? "<infInut>" : "<infInut Id=\"ID" + nProt + "\">";
        out += xmlElement("tpAmb", std::to_string(settings_.environment)) + xmlElement("verAplic", kVerAplic) +
               statusXml(cStat, xMotivo) + xmlElement("cUF", cUF_);
        if (echo)
            out += xmlElement("ano", year) + xmlElement("CNPJ", cnpj) + xmlElement("mod", model) +
                   xmlElement("serie", series) + xmlElement("nNFIni", first) + xmlElement("nNFFin", last);
        out += xmlElement("dhRecbto", dh.empty() ? call.dh : dh);
        if (!nProt.empty()) out += xmlElement("nProt", nProt);
        return out + "</infInut></retInutNFe>";
    };
    const auto refuse = [&](int cStat, const std::string& detail = "") {
        const std::string xMotivo = text(cStat);
        call.note("inutilização " + first + "-" + last + " -> " + std::to_string(cStat) + " " + xMotivo +
                  (detail.empty() ? "" : " [" + detail + "]"));
        return answer(cStat, xMotivo);
    };
    const std::string idAttribute = attributeOf(info, "Id");
    const std::string id = idAttribute.compare(0, 2, "ID") == 0 ? idAttribute.substr(2) : "";
    const auto voidAs = [&](int cStat, const std::string& xMotivo) {
        const std::string nProt = newProtocolNumber(call.dh);
        const std::string answered = answer(cStat, xMotivo, call.dh, nProt);
        store_.saveVoiding(id, std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><ProcInutNFe versao=\"") +
                                   kVoidingVersion + "\" xmlns=\"" + kNfeNamespace + "\">" + serialize(root) +
                                   answered + "</ProcInutNFe>");
        call.note("inutilização " + first + "-" + last + " -> " + std::to_string(cStat) + " " + xMotivo + " (nProt " +
                  nProt + ")");
        return answered;
    };

    const ScenarioAction& action = call.decision.action;
    if (action.status && !action.protocol) {
        call.note(std::to_string(action.status->cStat) + " (cenário)");
        return answer(action.status->cStat, forcedText(*action.status, "", ""));
    }
    if (const std::string problem = voidingSchemaProblem(message); !problem.empty())
        return refuse(225, problem);
    echo = true;
    const std::string expectedId = cUF + year + cnpj + model + padded(series, 3) + padded(first, 9) + padded(last, 9);
    if (const ForcedStatus* forced = call.forcedProtocolFor("")) {
        // Told what to answer: the checks are skipped; a voiding is kept like any other.
        const std::string xMotivo = forcedText(*forced, "", "");
        if (forced->cStat == 102 && digits(id, 41)) return voidAs(102, xMotivo);
        call.note("inutilização " + first + "-" + last + " -> " + std::to_string(forced->cStat) + " (cenário)");
        return answer(forced->cStat, xMotivo);
    }

    const SignatureVerdict signature = signatures_.check(info, call.now);
    if (signature.cStat != 0) return refuse(signature.cStat, signature.detail);
    if (id != expectedId) return refuse(225, "Id esperado ID" + expectedId);
    if (cUF != cUF_) return refuse(226);
    if (childText(info, "tpAmb") != std::to_string(settings_.environment)) return refuse(252);
    if (!fiscal::validCnpj(cnpj)) return refuse(207);
    if (!signature.signerCnpj.empty() && signature.signerCnpj.compare(0, 8, cnpj, 0, 8) != 0)
        return refuse(213, "certificado do CNPJ " + signature.signerCnpj);
    const long from = std::stol(first);
    const long to = std::stol(last);
    if (std::stoi(year) > std::stoi(dateTime(call.now).substr(2, 2))) return refuse(453, "ano " + year);
    if (from > to) return refuse(890);
    if (to - from + 1 > kMaxVoidedNumbers) return refuse(891);

    // The same request again is answered with the protocol it got.
    if (const auto earlier = store_.voiding(id)) {
        XmlDocument kept = parseXml(*earlier);
        xmlNode* earlierInfo =
            childElement(childElement(rootElement(kept.get()), "retInutNFe", kNfeNamespace), "infInut", kNfeNamespace);
        call.note("inutilização " + first + "-" + last + " -> 563 (nProt " + childText(earlierInfo, "nProt") + ")");
        return answer(563, text(563), childText(earlierInfo, "dhRecbto"), childText(earlierInfo, "nProt"));
    }
    for (long number = from; number <= to; ++number) {
        if (const auto used = store_.numberHolder(cnpj, model, series, number))
            return refuse(241, "nNF " + std::to_string(number) + " da chave " + used->key);
    }
    if (const auto voided = store_.voidedOverlap(cnpj, model, series, from, to))
        return refuse(256, "faixa inutilizada ID" + voided->id);
    return voidAs(102, text(102));
}

}  // namespace quorvanti::sefaz
