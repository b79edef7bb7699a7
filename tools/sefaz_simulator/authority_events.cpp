// NFeRecepcaoEvento4: the cancellation (110111) and the cancellation by substitution (110112) of an
// NFC-e the authority holds. The rules are listed in authority.h.
#include <libxml/tree.h>

#include <set>

#include "fiscal_component/document/access_key.h"
#include "fiscal_component/document/document_validator.h"
#include "sefaz_simulator/authority.h"
#include "sefaz_simulator/checks/message_structure.h"
#include "sefaz_simulator/checks/substitution_check.h"
#include "sefaz_simulator/messages/date_time.h"
#include "sefaz_simulator/messages/message_fields.h"
#include "sefaz_simulator/messages/status_texts.h"
#include "sefaz_simulator/messages/xml_util.h"

namespace quorvanti::sefaz {

namespace {

constexpr const char* kEventVersion = "1.00";
constexpr const char* kCancellation = "110111";
constexpr const char* kSubstitution = "110112";
constexpr long kSubstitutionHours = 168;

// Registered events: linked to the NFC-e, not linked, cancelled out of time.
bool registers(int cStat) { return cStat == 135 || cStat == 136 || cStat == 155; }

// An authorised document as kept: its nfeProc, with its infNFe and protocol.
struct KeptDocument {
    XmlDocument nfeProc;
    xmlNode* infNfe = nullptr;
    xmlNode* infProt = nullptr;

    bool authorised() const {
        const std::string cStat = childText(infProt, "cStat");
        return cStat == "100" || cStat == "150";
    }
};

KeptDocument keptDocument(const StateStore& store, const std::string& key) {
    KeptDocument kept;
    const auto text = store.authorisedDocument(key);
    if (!text) return kept;
    kept.nfeProc = parseXml(*text);
    xmlNode* root = rootElement(kept.nfeProc.get());
    kept.infNfe = childElement(childElement(root, "NFe", kNfeNamespace), "infNFe", kNfeNamespace);
    kept.infProt = childElement(childElement(root, "protNFe", kNfeNamespace), "infProt", kNfeNamespace);
    return kept;
}

}  // namespace

// The outcome of the checks of one event.
struct Authority::EventVerdict {
    int cStat = 135;
    std::string detail;  // for the log
};

int Authority::cancellationStatus(const std::string& key) const {
    for (const std::string& procEvento : store_.events(key)) {
        XmlDocument document = parseXml(procEvento);
        xmlNode* root = rootElement(document.get());
        const auto infEvento = [&](const char* parent) {
            return childElement(childElement(root, parent, kNfeNamespace), "infEvento", kNfeNamespace);
        };
        const std::string type = childText(infEvento("evento"), "tpEvento");
        const std::string cStat = childText(infEvento("retEvento"), "cStat");
        if ((type == kCancellation || type == kSubstitution) && digits(cStat, 3)) return std::stoi(cStat);
    }
    return 0;
}

std::string Authority::eventBatchSchemaProblem(xmlDoc* message) {
    xmlNode* root = rootElement(message);
    if (settings_.schemaFolder.empty()) return eventBatchProblem(root);
    if (!isElement(root, "envEvento", kNfeNamespace)) return "a mensagem não é envEvento";
    // Each event type has its own schema: a batch is read by the schema of its events' type.
    std::set<std::string> types;
    for (xmlNode* evento : childElements(root, "evento", kNfeNamespace))
        types.insert(childText(childElement(evento, "infEvento", kNfeNamespace), "tpEvento"));
    if (types.size() > 1) return "eventos de tipos diferentes no mesmo lote";
    const std::string type = types.empty() ? "" : *types.begin();
    if (type != kCancellation && type != kSubstitution)
        return "tpEvento \"" + type + "\" não atendido (110111, 110112)";
    const MessageSchemaVerdict verdict = messageSchemas_.validate(
        message, type == kCancellation ? "envEventoCancNFe_v1.00.xsd" : "envEventoCancSubst_v1.00.xsd");
    return verdict.valid ? "" : verdict.message;
}

std::string Authority::receiveEvents(xmlDoc* message, Call& call) {
    xmlNode* root = rootElement(message);
    const std::string idLote = childText(root, "idLote");
    const auto batchAnswer = [&](int cStat, const std::string& xMotivo, const std::string& results = "") {
        call.note(std::to_string(cStat) + " " + xMotivo);
        return std::string("<retEnvEvento versao=\"") + kEventVersion + "\" xmlns=\"" + kNfeNamespace + "\">" +
               xmlElement("idLote", digitsBetween(idLote, 1, 15) ? idLote : "0") +
               xmlElement("tpAmb", std::to_string(settings_.environment)) + xmlElement("verAplic", kVerAplic) +
               xmlElement("cOrgao", cUF_) + statusXml(cStat, xMotivo) + results + "</retEnvEvento>";
    };
    const ScenarioAction& action = call.decision.action;
    if (action.status && !action.protocol)
        return batchAnswer(action.status->cStat, forcedText(*action.status, call.decision.key, ""));
    if (const std::string problem = eventBatchSchemaProblem(message); !problem.empty())
        return batchAnswer(225, reasonText(text(225) + " (" + problem + ")"));

    std::string results;
    for (xmlNode* evento : childElements(root, "evento", kNfeNamespace))
        results += judgeEvent(standaloneCopy(evento).get(), call);
    if (action.status)
        return batchAnswer(action.status->cStat, forcedText(*action.status, call.decision.key, ""), results);
    return batchAnswer(128, text(128), results);
}

std::string Authority::judgeEvent(xmlDoc* evento, Call& call) {
    xmlNode* info = childElement(rootElement(evento), "infEvento", kNfeNamespace);
    const std::string key = childText(info, "chNFe");
    const std::string type = childText(info, "tpEvento");
    const std::string sequence = childText(info, "nSeqEvento");
    const auto retEvento = [&](int cStat, const std::string& xMotivo, const std::string& nProt) {
        std::string out = std::string("<retEvento versao=\"") + kEventVersion + "\">";
        out += nProt.empty() ? "<infEvento>" : "<infEvento Id=\"ID" + nProt + "\">";
        out += xmlElement("tpAmb", std::to_string(settings_.environment)) + xmlElement("verAplic", kVerAplic) +
               xmlElement("cOrgao", cUF_) + statusXml(cStat, xMotivo) + xmlElement("chNFe", key) +
               xmlElement("tpEvento", type);
        if (!nProt.empty())
            out += xmlElement("xEvento", type == kCancellation ? "Cancelamento registrado"
                                                               : "Cancelamento por substituicao registrado");
        out += xmlElement("nSeqEvento", sequence) + xmlElement("dhRegEvento", call.dh);
        if (!nProt.empty()) out += xmlElement("nProt", nProt);
        return out + "</infEvento></retEvento>";
    };
    const auto answerAs = [&](int cStat, const std::string& xMotivo, const std::string& detail) {
        std::string nProt;
        if (registers(cStat)) {
            nProt = newProtocolNumber(call.dh);
            const std::string procEvento =
                std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><procEventoNFe versao=\"") + kEventVersion +
                "\" xmlns=\"" + kNfeNamespace + "\">" + serialize(rootElement(evento)) + retEvento(cStat, xMotivo, nProt) +
                "</procEventoNFe>";
            store_.saveEvent(key, type, std::stoi(sequence), procEvento);
        }
        call.note("evento " + type + " chNFe " + key + " -> " + std::to_string(cStat) + " " + xMotivo +
                  (nProt.empty() ? "" : " (nProt " + nProt + ")") + (detail.empty() ? "" : " [" + detail + "]"));
        return retEvento(cStat, xMotivo, nProt);
    };

    if (const ForcedStatus* forced = call.forcedProtocolFor(key)) {
        // Told what to answer: the checks are skipped; a registration is kept like any other.
        return answerAs(forced->cStat, forcedText(*forced, key, ""), "cenário");
    }
    const EventVerdict verdict = eventVerdict(info, call.now);
    return answerAs(verdict.cStat, text(verdict.cStat, key), verdict.detail);
}

Authority::EventVerdict Authority::eventVerdict(xmlNode* info, std::time_t now) const {
    const auto answer = [](int cStat, std::string detail = "") { return EventVerdict{cStat, std::move(detail)}; };
    const SignatureVerdict signature = signatures_.check(info, now);
    if (signature.cStat != 0) return answer(signature.cStat, signature.detail);

    const std::string key = childText(info, "chNFe");
    const std::string type = childText(info, "tpEvento");
    const std::string sequence = childText(info, "nSeqEvento");
    const std::string id = "ID" + type + key + padded(sequence, 2);
    if (attributeOf(info, "Id") != id) return answer(572, "Id esperado " + id);
    if (childText(info, "cOrgao") != cUF_) return answer(250, "cOrgao " + childText(info, "cOrgao"));
    if (childText(info, "tpAmb") != std::to_string(settings_.environment)) return answer(252);
    if (!fiscal::accessKeyValid(key)) return answer(236);
    if (key.compare(0, 2, cUF_) != 0) return answer(226);
    const std::string cnpj = childText(info, "CNPJ");
    if (!cnpj.empty() && !fiscal::validCnpj(cnpj)) return answer(489);
    const std::string author = cnpj.empty() ? "000" + childText(info, "CPF") : cnpj;
    if (key.compare(6, 14, author) != 0) return answer(574, "autor " + author);
    if (!signature.signerCnpj.empty() && signature.signerCnpj.compare(0, 8, author, 0, 8) != 0)
        return answer(213, "certificado do CNPJ " + signature.signerCnpj);
    if (sequence != "1") return answer(889);

    const KeptDocument cancelled = keptDocument(store_, key);
    if (!cancelled.nfeProc) return answer(217);
    if (!cancelled.authorised()) return answer(205);
    if (cancellationStatus(key) != 0) return answer(573);
    xmlNode* detail = childElement(info, "detEvento", kNfeNamespace);
    const std::string nProt = childText(cancelled.infProt, "nProt");
    if (childText(detail, "nProt") != nProt) return answer(222, "nProt cadastrado " + nProt);

    // The event's own time: not ahead of its receipt (beyond the clock tolerance of dhEmi), not before the
    // document it cancels was emitted.
    const std::string dhEvento = childText(info, "dhEvento");
    std::time_t eventAt = 0, emittedAt = 0;
    if (parseDateTime(dhEvento, eventAt)) {
        const int tolerance = settings_.clockToleranceMinutes;
        if (tolerance >= 0 && eventAt > now + tolerance * 60L) return answer(578, "dhEvento " + dhEvento);
        if (parseDateTime(childText(childElement(cancelled.infNfe, "ide", kNfeNamespace), "dhEmi"), emittedAt) &&
            eventAt < emittedAt)
            return answer(577, "dhEvento " + dhEvento);
    }

    std::time_t authorisedAt = 0;
    parseDateTime(childText(cancelled.infProt, "dhRecbto"), authorisedAt);
    const long elapsed = static_cast<long>(now - authorisedAt);
    const std::string since = "autorizada há " + std::to_string(elapsed / 60) + " min";
    if (type == kCancellation) {
        if (elapsed <= settings_.cancelWindowMinutes * 60L) return answer(135);
        return settings_.lateCancel ? answer(155, since) : answer(501, since);
    }

    if (elapsed > kSubstitutionHours * 3600) return answer(501, since);
    const std::string reference = childText(detail, "chNFeRef");
    const KeptDocument substitute = reference == key ? KeptDocument{} : keptDocument(store_, reference);
    if (!substitute.nfeProc || !substitute.authorised() || reference.compare(6, 14, key, 6, 14) != 0 ||
        cancellationStatus(reference) != 0)
        return answer(882, "chNFeRef " + reference);
    const SubstitutionVerdict conditions = checkSubstitution(cancelled.infNfe, substitute.infNfe);
    if (conditions.cStat != 0) return answer(conditions.cStat, conditions.detail);
    return answer(135);
}

}  // namespace quorvanti::sefaz
