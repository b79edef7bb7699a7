#include "sefaz_simulator/authority.h"

#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "fiscal_component/document/access_key.h"
#include "fiscal_component/document/document_validator.h"
#include "fiscal_component/document/schema_validation.h"
#include "fiscal_component/signing/xml_signer.h"
#include "sefaz_simulator/checks/nfce_rules.h"
#include "sefaz_simulator/checks/qr_code_check.h"
#include "sefaz_simulator/checks/totals_check.h"
#include "sefaz_simulator/messages/date_time.h"
#include "sefaz_simulator/messages/message_fields.h"
#include "sefaz_simulator/messages/soap_envelope.h"
#include "sefaz_simulator/messages/status_texts.h"
#include "sefaz_simulator/messages/xml_util.h"

namespace quorvanti::sefaz {

namespace {

constexpr const char* kVersion = "4.00";
constexpr const char* kTmed = "1";
constexpr const char* kHomologationItem = "NOTA FISCAL EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR FISCAL";
constexpr const char* kHomologationRecipient = "NF-E EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR FISCAL";
constexpr std::size_t kMaxDocumentsPerBatch = 50;

// The offset of the state's legal time (daylight saving is no longer observed in Brazil).
int offsetHours(const std::string& uf) {
    if (uf == "AC") return -5;
    if (uf == "AM" || uf == "RO" || uf == "RR" || uf == "MT" || uf == "MS") return -4;
    return -3;
}

// A signature's DigestValue fit for digVal (the base64 of a SHA-1 digest); "" otherwise.
std::string usableDigest(const std::string& digest) {
    const bool base64 = digest.size() == 28 && digest.back() == '=' &&
                        std::all_of(digest.begin(), digest.end() - 1, [](unsigned char c) {
                            return std::isalnum(c) || c == '+' || c == '/';
                        });
    return base64 ? digest : "";
}

std::string retHead(const char* element, int environment) {
    return std::string("<") + element + " versao=\"" + kVersion + "\" xmlns=\"" + kNfeNamespace + "\">" +
           xmlElement("tpAmb", std::to_string(environment)) + xmlElement("verAplic", kVerAplic);
}

// Authorisations and denials of use both take a protocol and the document's number; the authority keeps
// the document either way, and a consultation answers it.
bool takesProtocol(int cStat) { return cStat == 100 || cStat == 150 || cStat == 110 || (cStat >= 301 && cStat <= 303); }

}  // namespace

// The outcome of the checks of one document.
struct Authority::Verdict {
    int cStat = 100;
    std::string referencedKey;      // the key named in the reason (539, 562)
    std::string referencedReceipt;  // the receipt named in the reason (204, 539)
    std::string digestValue;
    std::string detail;             // for the log
};

Authority::Authority(AuthoritySettings settings, StateStore& store, ScenarioFile& scenario)
    : settings_(std::move(settings)),
      cUF_(fiscal::ufCode(settings_.uf)),
      store_(store),
      scenario_(scenario),
      signatures_(settings_.trustedAuthorities),
      messageSchemas_(settings_.schemaFolder) {
    if (cUF_.empty()) throw std::runtime_error("UF desconhecida: " + settings_.uf);
    if (!settings_.clock) settings_.clock = [] { return std::time(nullptr); };
    fiscal::initialiseXmlLibrary();
}

std::string Authority::dateTime(std::time_t time) const {
    const int offset = offsetHours(settings_.uf);
    const std::time_t local = time + offset * 3600L;
    std::tm parts{};
    gmtime_r(&local, &parts);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:00", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, offset < 0 ? '-' : '+', std::abs(offset));
    return text;
}

std::string Authority::text(int cStat, std::string_view key, std::string_view receipt) const {
    std::string standard = fillReferences(standardText(cStat), key, receipt);
    if (settings_.plainTexts) standard = withoutAccents(standard);
    return reasonText(standard);
}

std::string Authority::forcedText(const ForcedStatus& forced, std::string_view key, std::string_view receipt) const {
    if (forced.xMotivo.empty()) return text(forced.cStat, key, receipt);
    return reasonText(fillReferences(forced.xMotivo, key, receipt));
}

std::string Authority::protocolXml(const std::string& key, const std::string& dh, const std::string& nProt,
                                   const std::string& digVal, int cStat, const std::string& xMotivo) const {
    std::string out = std::string("<protNFe versao=\"") + kVersion + "\">";
    out += nProt.empty() ? "<infProt>" : "<infProt Id=\"ID" + nProt + "\">";
    out += xmlElement("tpAmb", std::to_string(settings_.environment));
    out += xmlElement("verAplic", kVerAplic);
    out += xmlElement("chNFe", key);
    out += xmlElement("dhRecbto", dh);
    if (!nProt.empty()) out += xmlElement("nProt", nProt);
    if (!digVal.empty()) out += xmlElement("digVal", digVal);
    out += statusXml(cStat, xMotivo);
    out += "</infProt></protNFe>";
    return out;
}

std::string Authority::newProtocolNumber(const std::string& dh) {
    // 1 (a state authority), cUF, the year's two digits, a 10-digit sequence.
    const std::uint64_t sequence = store_.nextProtocolSequence() % 10000000000ULL;
    return "1" + cUF_ + dh.substr(2, 2) + padded(std::to_string(sequence), 10);
}

std::string Authority::newReceiptNumber() {
    const std::uint64_t sequence = store_.nextReceiptSequence() % 10000000000000ULL;
    return cUF_ + padded(std::to_string(sequence), 13);
}

Reply Authority::answer(Service service, std::string_view requestBody) {
    std::lock_guard<std::mutex> lock(mutex_);
    Call call;
    call.now = settings_.clock();
    call.dh = dateTime(call.now);
    Reply reply;
    reply.contentType = kSoapContentType;
    const std::string name(serviceName(service));
    try {
        SoapRequest request = readRequest(requestBody, service);
        call.decision = scenario_.decide(service, request.readable ? keysOf(service, request.message.get())
                                                                   : std::vector<std::string>{});
        const ScenarioAction& action = call.decision.action;
        const std::string head = name + " #" + std::to_string(call.decision.callNumber) +
                                 (call.decision.line > 0 ? " (cenário, linha " + std::to_string(call.decision.line) + ")" : "");
        reply.delayMs = action.delayMs;
        if (action.httpStatus != 0) {
            reply.httpStatus = action.httpStatus;
            reply.contentType = "text/html; charset=utf-8";
            const std::string status = std::to_string(action.httpStatus);
            reply.body = "<html><head><title>Error " + status + "</title></head><body><h1>HTTP Status " + status +
                         "</h1></body></html>";
            reply.summary = head + ": HTTP " + status;
            return reply;
        }
        if (action.drop == Drop::BeforeProcessing) {
            reply.drop = true;
            reply.summary = head + ": conexão derrubada sem processar";
            return reply;
        }
        if (!request.readable) {
            reply.httpStatus = faultHttpStatus(request.fault);
            reply.body = faultEnvelope(request.fault, request.faultReason);
            reply.summary = head + ": SOAP Fault: " + request.faultReason;
        } else {
            xmlDoc* message = request.message.get();
            std::string messageXml;
            switch (service) {
            case Service::Authorisation: messageXml = authorise(message, call); break;
            case Service::ReceiptConsultation: messageXml = consultReceipt(message, call); break;
            case Service::ProtocolConsultation: messageXml = consultProtocol(message, call); break;
            case Service::ServiceStatus: messageXml = serviceStatus(message, call); break;
            case Service::EventReception: messageXml = receiveEvents(message, call); break;
            case Service::NumberVoiding: messageXml = voidNumbers(message, call); break;
            }
            reply.body = answerEnvelope(service, messageXml);
            reply.summary = head + ": " + call.summary;
        }
        if (action.drop == Drop::AfterProcessing) {
            reply.drop = true;
            reply.summary += "; conexão derrubada sem resposta";
        }
        if (action.delayMs > 0) reply.summary += "; resposta atrasada " + std::to_string(action.delayMs) + " ms";
    } catch (const ScenarioError& error) {
        reply = Reply{};
        reply.httpStatus = 500;
        reply.contentType = kSoapContentType;
        reply.body = faultEnvelope(FaultCode::Receiver, std::string("Cenário inválido: ") + error.what());
        reply.summary = name + ": cenário inválido: " + error.what();
    } catch (const std::exception& error) {
        reply = Reply{};
        reply.httpStatus = 500;
        reply.contentType = kSoapContentType;
        reply.body = faultEnvelope(FaultCode::Receiver, std::string("Erro interno do simulador: ") + error.what());
        reply.summary = name + ": erro interno: " + error.what();
    }
    return reply;
}

std::vector<std::string> Authority::keysOf(Service service, xmlDoc* message) const {
    std::vector<std::string> keys;
    xmlNode* root = rootElement(message);
    if (root == nullptr) return keys;
    if (service == Service::Authorisation) {
        for (xmlNode* nfe : childElements(root, "NFe", kNfeNamespace)) {
            const std::string id = attributeOf(childElement(nfe, "infNFe", kNfeNamespace), "Id");
            if (id.size() == 47 && id.compare(0, 3, "NFe") == 0) keys.push_back(id.substr(3));
        }
    } else if (service == Service::ProtocolConsultation) {
        keys.push_back(childText(root, "chNFe"));
    } else if (service == Service::EventReception) {
        for (xmlNode* evento : childElements(root, "evento", kNfeNamespace))
            keys.push_back(childText(childElement(evento, "infEvento", kNfeNamespace), "chNFe"));
    } else if (service == Service::ReceiptConsultation) {
        if (const auto results = store_.receiptResults(childText(root, "nRec"))) {
            XmlDocument stored = parseXml(*results);
            for (xmlNode* prot : childElements(rootElement(stored.get()), "protNFe", kNfeNamespace))
                keys.push_back(childText(childElement(prot, "infProt", kNfeNamespace), "chNFe"));
        }
    }
    return keys;
}

// ---- NFeAutorizacao4 ----

std::string Authority::authorise(xmlDoc* message, Call& call) {
    const auto batchAnswer = [&](int cStat, const std::string& xMotivo, const std::string& tail = "") {
        call.note(std::to_string(cStat) + " " + xMotivo);
        return retHead("retEnviNFe", settings_.environment) + statusXml(cStat, xMotivo) + xmlElement("cUF", cUF_) +
               xmlElement("dhRecbto", call.dh) + tail + "</retEnviNFe>";
    };
    const ScenarioAction& action = call.decision.action;
    if (action.status && !action.protocol)
        return batchAnswer(action.status->cStat, forcedText(*action.status, call.decision.key, ""));

    xmlNode* root = rootElement(message);
    const std::string indSinc = childText(root, "indSinc");
    const std::vector<xmlNode*> documents = childElements(root, "NFe", kNfeNamespace);
    std::string problem;
    if (!isElement(root, "enviNFe", kNfeNamespace)) problem = "a mensagem não é enviNFe";
    else if (attributeOf(root, "versao") != kVersion) problem = "versão do enviNFe diferente de 4.00";
    else if (!digitsBetween(childText(root, "idLote"), 1, 15)) problem = "idLote ausente ou inválido";
    else if (indSinc != "0" && indSinc != "1") problem = "indSinc deve ser 0 ou 1";
    else if (documents.empty() || documents.size() > kMaxDocumentsPerBatch) problem = "o lote deve ter de 1 a 50 NFe";
    if (!problem.empty()) return batchAnswer(225, reasonText(text(225) + " (" + problem + ")"));
    if (indSinc == "1" && documents.size() > 1) return batchAnswer(452, text(452));

    // The schema is checked for the whole batch before any document is judged, as the authority does.
    std::vector<XmlDocument> standalone;
    for (xmlNode* nfe : documents) {
        standalone.push_back(standaloneCopy(nfe));
        const fiscal::SchemaVerdict schema = fiscal::validateNfeDocument(standalone.back().get(), settings_.schemaFolder);
        if (!schema.valid) return batchAnswer(225, reasonText(text(225) + " (" + schema.message + ")"));
    }

    const std::string receipt = newReceiptNumber();
    std::string protocols;
    for (XmlDocument& nfe : standalone) protocols += judgeDocument(nfe.get(), receipt, call);
    store_.saveReceiptResults(receipt, std::string("<recibo xmlns=\"") + kNfeNamespace + "\" dhRecbto=\"" + call.dh +
                                           "\">" + protocols + "</recibo>");
    const bool synchronous = indSinc == "1";
    if (action.status) {
        // A forced batch status with forced protocols: the protocols were judged as told.
        return batchAnswer(action.status->cStat, forcedText(*action.status, call.decision.key, receipt),
                           synchronous ? protocols : "");
    }
    if (synchronous) return batchAnswer(104, text(104), protocols);
    return batchAnswer(103, text(103),
                       "<infRec>" + xmlElement("nRec", receipt) + xmlElement("tMed", kTmed) + "</infRec>");
}

std::string Authority::judgeDocument(xmlDoc* nfe, const std::string& receipt, Call& call) {
    xmlNode* root = rootElement(nfe);
    const std::string key = attributeOf(childElement(root, "infNFe", kNfeNamespace), "Id").substr(3);
    const auto authoriseAs = [&](int cStat, const std::string& xMotivo, const std::string& digest) {
        const std::string nProt = newProtocolNumber(call.dh);
        const std::string protocol = protocolXml(key, call.dh, nProt, usableDigest(digest), cStat, xMotivo);
        const std::string nfeProc = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc versao=\"") +
                                    kVersion + "\" xmlns=\"" + kNfeNamespace + "\">" + serialize(root) + protocol +
                                    "</nfeProc>";
        store_.saveAuthorised(AuthorisedEntry{key, receipt}, nfeProc);
        call.note("chNFe " + key + " -> " + std::to_string(cStat) + " " + xMotivo + " (nProt " + nProt + ")");
        return protocol;
    };
    const auto rejectAs = [&](int cStat, const std::string& xMotivo, const std::string& digest, const std::string& detail) {
        call.note("chNFe " + key + " -> " + std::to_string(cStat) + " " + xMotivo + (detail.empty() ? "" : " [" + detail + "]"));
        return protocolXml(key, call.dh, "", usableDigest(digest), cStat, xMotivo);
    };

    if (const ForcedStatus* forced = call.forcedProtocolFor(key)) {
        // Told what to answer: the checks are skipped; an authorisation or a denial is kept like any other.
        const std::string xMotivo = forcedText(*forced, key, receipt);
        const std::string digest = fiscal::signatureDigestValue(nfe);
        if (takesProtocol(forced->cStat)) return authoriseAs(forced->cStat, xMotivo, digest);
        return rejectAs(forced->cStat, xMotivo, digest, "cenário");
    }
    const Verdict result = verdict(nfe, key, call.now);
    if (result.cStat == 100) return authoriseAs(100, text(100), result.digestValue);
    const std::string xMotivo =
        text(result.cStat, result.referencedKey.empty() ? key : result.referencedKey, result.referencedReceipt);
    return rejectAs(result.cStat, xMotivo, result.digestValue, result.detail);
}

Authority::Verdict Authority::verdict(xmlDoc* nfe, const std::string& key, std::time_t now) const {
    Verdict result;
    const auto refuse = [&](int cStat, std::string detail = "") {
        result.cStat = cStat;
        result.detail = std::move(detail);
        return result;
    };
    xmlNode* infNfe = childElement(rootElement(nfe), "infNFe", kNfeNamespace);
    const SignatureVerdict signature = signatures_.check(infNfe, now);
    result.digestValue = signature.digestValue;
    if (signature.cStat != 0) return refuse(signature.cStat, signature.detail);
    if (!fiscal::accessKeyValid(key)) return refuse(236);

    xmlNode* ide = childElement(infNfe, "ide", kNfeNamespace);
    xmlNode* emit = childElement(infNfe, "emit", kNfeNamespace);
    const std::string cUF = childText(ide, "cUF");
    if (cUF != cUF_) return refuse(226, "cUF " + cUF + ", atendida " + cUF_);

    // The key as the document's own fields compose it.
    const std::string dhEmi = childText(ide, "dhEmi");
    const std::string cnpj = childText(emit, "CNPJ");
    const std::string emitter = cnpj.empty() ? "000" + childText(emit, "CPF") : cnpj;
    const std::string cNF = padded(childText(ide, "cNF"), 8);
    const std::string composed = cUF + (dhEmi.size() >= 7 ? dhEmi.substr(2, 2) + dhEmi.substr(5, 2) : "") + emitter +
                                 childText(ide, "mod") + padded(childText(ide, "serie"), 3) +
                                 padded(childText(ide, "nNF"), 9) + childText(ide, "tpEmis") + cNF;
    if (composed.size() != 43 || key.compare(0, 35, composed, 0, 35) != 0)
        return refuse(502, "chave composta pelos campos: " + composed);
    if (key.compare(35, 8, cNF) != 0) {
        result.referencedKey = composed + std::to_string(fiscal::accessKeyCheckDigit(composed));
        return refuse(562, "cNF do documento " + cNF);
    }
    if (childText(ide, "cDV") != key.substr(43)) return refuse(253);
    if (childText(ide, "tpAmb") != std::to_string(settings_.environment))
        return refuse(252, "tpAmb " + childText(ide, "tpAmb") + ", ambiente " + std::to_string(settings_.environment));
    if (const NfceRulesVerdict rules = checkNfceRules(infNfe); rules.cStat != 0) return refuse(rules.cStat, rules.detail);
    if (!cnpj.empty() && !fiscal::validCnpj(cnpj)) return refuse(207);
    if (!cnpj.empty() && !signature.signerCnpj.empty() && signature.signerCnpj.compare(0, 8, cnpj, 0, 8) != 0)
        return refuse(213, "certificado do CNPJ " + signature.signerCnpj);
    if (settings_.environment == 2) {
        xmlNode* firstProduct = childElement(childElement(infNfe, "det", kNfeNamespace), "prod", kNfeNamespace);
        if (childText(firstProduct, "xProd") != kHomologationItem) return refuse(373);
        xmlNode* dest = childElement(infNfe, "dest", kNfeNamespace);
        xmlNode* recipientName = childElement(dest, "xNome", kNfeNamespace);
        if (recipientName != nullptr && textOf(recipientName) != kHomologationRecipient) return refuse(598);
    }
    // The emission time, as the authority checks it against its own clock by default.
    if (settings_.clockToleranceMinutes >= 0) {
        std::time_t emitted = 0;
        const long tolerance = settings_.clockToleranceMinutes * 60L;
        if (parseDateTime(dhEmi, emitted)) {
            if (emitted > now + tolerance) return refuse(703, "dhEmi " + dhEmi + ", recebida " + dateTime(now));
            if (childText(ide, "tpEmis") == "1" && emitted < now - tolerance)
                return refuse(704, "dhEmi " + dhEmi + ", recebida " + dateTime(now));
        }
    }
    if (const QrCodeVerdict qr = checkQrCode(rootElement(nfe), key, signature.digestValue, settings_.cscs); qr.cStat != 0)
        return refuse(qr.cStat, qr.detail);
    if (const TotalsVerdict totals = checkTotals(infNfe); totals.cStat != 0) return refuse(totals.cStat, totals.detail);
    if (const auto voided = store_.voidedOverlap(key.substr(6, 14), key.substr(20, 2), key.substr(22, 3),
                                                 std::stol(key.substr(25, 9)), std::stol(key.substr(25, 9))))
        return refuse(206, "faixa inutilizada ID" + voided->id);
    if (const auto earlier = store_.authorisedNumber(key)) {
        result.referencedReceipt = earlier->receipt;
        if (earlier->key == key) return refuse(204);
        result.referencedKey = earlier->key;
        return refuse(539);
    }
    return result;
}

// ---- NFeRetAutorizacao4 ----

std::string Authority::consultReceipt(xmlDoc* message, Call& call) {
    xmlNode* root = rootElement(message);
    const std::string receipt = childText(root, "nRec");
    const auto answer = [&](int cStat, const std::string& xMotivo, const std::string& dh, const std::string& protocols) {
        call.note("nRec " + receipt + " -> " + std::to_string(cStat) + " " + xMotivo);
        return retHead("retConsReciNFe", settings_.environment) + xmlElement("nRec", digits(receipt, 15) ? receipt : std::string(15, '0')) +
               statusXml(cStat, xMotivo) + xmlElement("cUF", cUF_) + xmlElement("dhRecbto", dh) + protocols +
               "</retConsReciNFe>";
    };
    const std::string tpAmb = childText(root, "tpAmb");
    if (!isElement(root, "consReciNFe", kNfeNamespace) || attributeOf(root, "versao") != kVersion ||
        !digits(receipt, 15) || (tpAmb != "1" && tpAmb != "2"))
        return answer(225, text(225), call.dh, "");
    if (tpAmb != std::to_string(settings_.environment)) return answer(252, text(252), call.dh, "");
    const ScenarioAction& action = call.decision.action;
    if (action.status && !action.protocol)
        return answer(action.status->cStat, forcedText(*action.status, call.decision.key, receipt), call.dh, "");

    const auto results = store_.receiptResults(receipt);
    if (!results) return answer(106, text(106), call.dh, "");
    XmlDocument stored = parseXml(*results);
    xmlNode* storedRoot = rootElement(stored.get());
    std::string protocols;
    for (xmlNode* prot : childElements(storedRoot, "protNFe", kNfeNamespace)) {
        const std::string key = childText(childElement(prot, "infProt", kNfeNamespace), "chNFe");
        if (const ForcedStatus* forced = call.forcedProtocolFor(key)) {
            protocols += protocolXml(key, call.dh, takesProtocol(forced->cStat) ? newProtocolNumber(call.dh) : "", "", forced->cStat,
                                     forcedText(*forced, key, receipt));
        } else {
            protocols += serialize(rootElement(standaloneCopy(prot).get()));
        }
    }
    if (action.status)
        return answer(action.status->cStat, forcedText(*action.status, call.decision.key, receipt), call.dh, protocols);
    return answer(104, text(104), attributeOf(storedRoot, "dhRecbto"), protocols);
}

// ---- NFeConsultaProtocolo4 ----

std::string Authority::consultProtocol(xmlDoc* message, Call& call) {
    xmlNode* root = rootElement(message);
    const std::string key = childText(root, "chNFe");
    const auto answer = [&](int cStat, const std::string& xMotivo, const std::string& protocol) {
        call.note("chNFe " + key + " -> " + std::to_string(cStat) + " " + xMotivo);
        return retHead("retConsSitNFe", settings_.environment) + statusXml(cStat, xMotivo) + xmlElement("cUF", cUF_) +
               xmlElement("dhRecbto", call.dh) + xmlElement("chNFe", digits(key, 44) ? key : std::string(44, '0')) +
               protocol + "</retConsSitNFe>";
    };
    const std::string tpAmb = childText(root, "tpAmb");
    if (!isElement(root, "consSitNFe", kNfeNamespace) || attributeOf(root, "versao") != kVersion ||
        childText(root, "xServ") != "CONSULTAR" || !digits(key, 44) || (tpAmb != "1" && tpAmb != "2"))
        return answer(225, text(225), "");
    if (tpAmb != std::to_string(settings_.environment)) return answer(252, text(252), "");

    const ScenarioAction& action = call.decision.action;
    const auto earlier = store_.authorisedNumber(key);
    const std::string storedReceipt = earlier ? earlier->receipt : "";
    if (action.status && !action.protocol)
        return answer(action.status->cStat, forcedText(*action.status, key, storedReceipt), "");
    if (const ForcedStatus* forced = call.forcedProtocolFor(key)) {
        const std::string xMotivo = forcedText(*forced, key, storedReceipt);
        const std::string protocol = protocolXml(key, call.dh, takesProtocol(forced->cStat) ? newProtocolNumber(call.dh) : "",
                                                 "", forced->cStat, xMotivo);
        if (action.status)
            return answer(action.status->cStat, forcedText(*action.status, key, storedReceipt), protocol);
        return answer(forced->cStat, xMotivo, protocol);
    }

    if (!fiscal::accessKeyValid(key)) return answer(236, text(236), "");
    if (key.compare(0, 2, cUF_) != 0) return answer(226, text(226), "");
    if (earlier && earlier->key == key) {
        if (const auto nfeProc = store_.authorisedDocument(key)) {
            XmlDocument document = parseXml(*nfeProc);
            xmlNode* prot = childElement(rootElement(document.get()), "protNFe", kNfeNamespace);
            std::string protocol = serialize(rootElement(standaloneCopy(prot).get()));
            xmlNode* infProt = childElement(prot, "infProt", kNfeNamespace);
            // The events follow the protocol; a cancellation (by substitution too) makes the key's
            // status 101, or 151 when it was granted out of time.
            for (const std::string& procEvento : store_.events(key))
                protocol += serialize(rootElement(parseXml(procEvento).get()));
            if (const int cancelled = cancellationStatus(key); cancelled != 0) {
                const int cStat = cancelled == 155 ? 151 : 101;
                return answer(cStat, text(cStat), protocol);
            }
            return answer(std::stoi(childText(infProt, "cStat")), childText(infProt, "xMotivo"), protocol);
        }
    }
    if (earlier) {
        // The number is authorised under another key: 562 when only the numeric code (and so the
        // check digit) differs, naming the key the authority holds; 613 for any other difference.
        if (earlier->key.compare(0, 35, key, 0, 35) == 0) return answer(562, text(562, earlier->key), "");
        return answer(613, text(613, earlier->key), "");
    }
    return answer(217, text(217), "");
}

// ---- NFeStatusServico4 ----

std::string Authority::serviceStatus(xmlDoc* message, Call& call) {
    xmlNode* root = rootElement(message);
    const auto answer = [&](int cStat, const std::string& xMotivo) {
        call.note(std::to_string(cStat) + " " + xMotivo);
        return retHead("retConsStatServ", settings_.environment) + statusXml(cStat, xMotivo) + xmlElement("cUF", cUF_) +
               xmlElement("dhRecbto", call.dh) + xmlElement("tMed", kTmed) + "</retConsStatServ>";
    };
    const std::string tpAmb = childText(root, "tpAmb");
    if (!isElement(root, "consStatServ", kNfeNamespace) || attributeOf(root, "versao") != kVersion ||
        childText(root, "xServ") != "STATUS" || !digits(childText(root, "cUF"), 2) || (tpAmb != "1" && tpAmb != "2"))
        return answer(225, text(225));
    if (tpAmb != std::to_string(settings_.environment)) return answer(252, text(252));
    if (childText(root, "cUF") != cUF_) return answer(289, text(289));
    const ScenarioAction& action = call.decision.action;
    if (action.status) return answer(action.status->cStat, forcedText(*action.status, "", ""));
    return answer(107, text(107));
}

}  // namespace quorvanti::sefaz
