#include "fiscal_component/sefaz/web_services.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <charconv>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "fiscal_component/document/access_key.h"
#include "fiscal_component/document/event_documents.h"
#include "fiscal_component/document/nfce_format.h"
#include "fiscal_component/document/schema_validation.h"
#include "fiscal_component/document/xml_names.h"
#include "platform/durable_file.h"
#include "platform/folders.h"

namespace quorvanti::fiscal {

namespace {


struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }


bool named(xmlNode* node, const char* name) { return isElement(node, name, kNfeNamespace); }

xmlNode* child(xmlNode* parent, const char* name, const char* ns = kNfeNamespace) {
    return childElement(parent, name, ns);
}

std::string text(xmlNode* node) {
    if (node == nullptr) return "";
    xmlChar* content = xmlNodeGetContent(node);
    std::string value = content ? trimmed(reinterpret_cast<const char*>(content)) : "";
    xmlFree(content);
    return value;
}

std::string childText(xmlNode* parent, const char* name) { return text(child(parent, name)); }

// A whole number; false when `value` is empty or not a number.
bool wholeNumber(const std::string& value, std::int32_t& number) {
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    return !value.empty() && error == std::errc() && end == value.data() + value.size();
}

// A status code; false when the element is missing or not a number.
bool statusCode(xmlNode* parent, std::int32_t& code) { return wholeNumber(childText(parent, "cStat"), code); }

std::int32_t statusOf(xmlNode* parent) {
    std::int32_t code = 0;
    return statusCode(parent, code) ? code : 0;
}

bool authorises(std::int32_t cStat) { return cStat == 100 || cStat == 150; }

// "Duplicidade de NF-e": the authority already holds this very key, so it is asked by key, which
// answers the authorisation it gave the first time.
constexpr std::int32_t kSameKeyAgain = 204;

// The key a protNFe is about ("" when it names none).
std::string protocolKey(xmlNode* protNFe) { return childText(child(protNFe, "infProt"), "chNFe"); }

struct Protocol {
    std::int32_t cStat = 0;
    std::string xMotivo, nProt, dhRecbto, digVal;
};

Protocol protocolOf(xmlNode* protNFe) {
    xmlNode* info = child(protNFe, "infProt");
    return Protocol{statusOf(info), childText(info, "xMotivo"), childText(info, "nProt"), childText(info, "dhRecbto"),
                    childText(info, "digVal")};
}

// The protNFe of `key` among the children of `parent` (a receipt answer may carry several).
xmlNode* protocolFor(xmlNode* parent, const std::string& key) {
    for (xmlNode* node = parent ? parent->children : nullptr; node; node = node->next)
        if (named(node, "protNFe") && protocolKey(node) == key) return node;
    return nullptr;
}

// The element as a document of its own text, its namespaces declared on it.
std::string standaloneText(xmlNode* element) {
    DocPtr doc(xmlNewDoc(BAD_CAST "1.0"));
    xmlNode* copy = xmlDocCopyNode(element, doc.get(), 1);
    if (copy == nullptr) return "";
    xmlDocSetRootElement(doc.get(), copy);
    xmlReconciliateNs(doc.get(), copy);
    xmlBuffer* buffer = xmlBufferCreate();
    std::string out;
    if (buffer != nullptr && xmlNodeDump(buffer, doc.get(), copy, 0, 0) >= 0)
        out = reinterpret_cast<const char*>(xmlBufferContent(buffer));
    xmlBufferFree(buffer);
    return out;
}

// The element's text as the answer holds it, with the declaration of its own namespace added when an
// ancestor made it; nothing else from its ancestors comes along. A signed element inside (an evento,
// a signed retEvento) keeps exactly the namespaces in scope it was signed with, so its signature still
// verifies; a copy into a document of its own would gain the declarations libxml2 adds to reconcile it.
std::string elementAsSent(xmlNode* element) {
    xmlBuffer* buffer = xmlBufferCreate();
    std::string out;
    if (buffer != nullptr && xmlNodeDump(buffer, element->doc, element, 0, 0) >= 0)
        out = reinterpret_cast<const char*>(xmlBufferContent(buffer));
    xmlBufferFree(buffer);
    if (out.empty() || element->ns == nullptr) return out;
    for (xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next)
        if (xmlStrEqual(ns->prefix, element->ns->prefix)) return out;
    std::string declaration = " xmlns";
    if (element->ns->prefix != nullptr) declaration += std::string(":") + reinterpret_cast<const char*>(element->ns->prefix);
    declaration += "=\"" + xmlEscape(reinterpret_cast<const char*>(element->ns->href)) + "\"";
    out.insert(out.find_first_of(" />"), declaration);
    return out;
}

DocPtr parsedText(std::string_view xml) {
    return DocPtr(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

// Whether `document` is well-formed XML whose root holds an NFe first.
bool wellFormedProc(std::string_view document) {
    DocPtr parsed = parsedText(document);
    xmlNode* root = parsed ? xmlDocGetRootElement(parsed.get()) : nullptr;
    xmlNode* first = root ? xmlFirstElementChild(root) : nullptr;
    return named(first, "NFe");
}

// The first DigestValue of a signed NFe's text.
std::string digestValueOf(std::string_view nfe) {
    const auto tag = nfe.find("DigestValue>");
    if (tag == std::string_view::npos) return "";
    const auto start = tag + std::string_view("DigestValue>").size();
    const auto end = nfe.find('<', start);
    return end == std::string_view::npos ? "" : trimmed(nfe.substr(start, end - start));
}

bool readWholeFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    content = out.str();
    return static_cast<bool>(in) || in.eof();
}

// Writes `content` as the whole file at `path`, durably (platform::writeFileDurably): a reader never sees
// half a document, and a failure leaves the old file, or none, under the name. "" when written, else
// what could not be written and why.
std::string storeFile(const std::string& path, std::string_view content) {
    try {
        platform::writeFileDurably(path, content);
        return {};
    } catch (const platform::FileWriteError& error) {
        return error.what();
    }
}

std::string timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    char out[32];
    std::strftime(out, sizeof out, "%Y%m%d%H%M%S", &parts);
    return out;
}

// The access key of a consultation: 44 digits, optionally after "NFe".
std::string consultedKey(std::string_view accessKey) {
    std::string key = trimmed(accessKey);
    if (key.size() == 47 && key.compare(0, 3, "NFe") == 0) key.erase(0, 3);
    return key.size() == 44 && isDigits(key) ? key : std::string();
}

template <typename Result>
Result failed(const TransportFailure& failure) {
    Result result;
    result.cStat = failure.code;
    result.xMotivo = failure.text;
    return result;
}

void fillProtocol(ConsultationResult& result, const Protocol& protocol) {
    result.protocolCStat = protocol.cStat;
    result.protocolXMotivo = protocol.xMotivo;
    result.nProt = protocol.nProt;
    result.protocolDhRecbto = protocol.dhRecbto;
}

TransportFailure missingStatus(WebService service, std::string_view messageName) {
    TransportFailure failure;
    failure.code = kFailureMissingMessage;
    failure.text = "Variável de objeto não definida: " + std::string(messageName) + " de " +
                   std::string(webServiceName(service)) + " sem cStat numérico";
    return failure;
}

// The status (cStat, xMotivo) of an answer's message, or of its child `inner`, into `result`; false, with
// `result` the failure, when the call brought no message or the message no status.
template <typename Result>
bool readStatus(const SoapOutcome& outcome, WebService service, std::string_view messageName, Result& result,
                const char* inner = nullptr) {
    if (outcome.reading.failure) {
        result = failed<Result>(outcome.reading.failure);
        return false;
    }
    xmlNode* status = inner ? child(outcome.reading.message, inner) : outcome.reading.message;
    if (!statusCode(status, result.cStat)) {
        result = failed<Result>(missingStatus(service, messageName));
        return false;
    }
    result.xMotivo = childText(status, "xMotivo");
    return true;
}

}  // namespace

std::string_view rootElementText(std::string_view xml) {
    if (xml.substr(0, 3) == "\xEF\xBB\xBF") xml.remove_prefix(3);
    while (!xml.empty() && blank(xml.front())) xml.remove_prefix(1);
    if (xml.substr(0, 5) == "<?xml") {
        const auto end = xml.find("?>");
        xml.remove_prefix(end == std::string_view::npos ? xml.size() : end + 2);
    }
    while (!xml.empty() && blank(xml.front())) xml.remove_prefix(1);
    while (!xml.empty() && blank(xml.back())) xml.remove_suffix(1);
    return xml;
}

std::string enviNFeMessage(std::string_view nfe, std::int64_t idLote, int indSinc) {
    std::string out;
    out.reserve(nfe.size() + 160);
    out += "<enviNFe xmlns=\"";
    out += kNfeNamespace;
    out += "\" versao=\"4.00\"><idLote>";
    out += std::to_string(idLote);
    out += "</idLote><indSinc>";
    out += std::to_string(indSinc);
    out += "</indSinc>";
    out += nfe;
    out += "</enviNFe>";
    return out;
}

std::string consReciNFeMessage(int tpAmb, std::string_view nRec) {
    return std::string("<consReciNFe xmlns=\"") + kNfeNamespace + "\" versao=\"4.00\"><tpAmb>" + std::to_string(tpAmb) +
           "</tpAmb><nRec>" + xmlEscape(nRec) + "</nRec></consReciNFe>";
}

std::string consSitNFeMessage(int tpAmb, std::string_view accessKey) {
    return std::string("<consSitNFe xmlns=\"") + kNfeNamespace + "\" versao=\"4.00\"><tpAmb>" + std::to_string(tpAmb) +
           "</tpAmb><xServ>CONSULTAR</xServ><chNFe>" + xmlEscape(accessKey) + "</chNFe></consSitNFe>";
}

std::string consStatServMessage(int tpAmb, std::string_view cUF) {
    return std::string("<consStatServ xmlns=\"") + kNfeNamespace + "\" versao=\"4.00\"><tpAmb>" + std::to_string(tpAmb) +
           "</tpAmb><cUF>" + xmlEscape(cUF) + "</cUF><xServ>STATUS</xServ></consStatServ>";
}

std::string nfeProcDocument(std::string_view nfe, std::string_view protNFe) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<nfeProc versao=\"4.00\" xmlns=\"";
    out += kNfeNamespace;
    out += "\">";
    out += nfe;
    out += protNFe;
    out += "</nfeProc>";
    return out;
}

WebServices::WebServices(WebServiceSettings settings, CertificateSource certificate, SoapTransport transport)
    : settings_(std::move(settings)), certificate_(std::move(certificate)), transport_(std::move(transport)) {
    settings_.documentFolder = platform::withTrailingSlash(settings_.documentFolder);
    settings_.uf = trimmed(settings_.uf);
}

std::string WebServices::address(WebService service, TransportFailure& failure) const {
    try {
        return serviceAddress(settings_.uf, settings_.tpAmb, service, settings_.documentFolder);
    } catch (const AddressError& error) {
        failure = addressFailure(error.what());
        return "";
    }
}

SoapOutcome WebServices::call(WebService service, std::string message, std::string_view messageName) {
    SoapOutcome outcome;
    SoapCall soap;
    soap.url = address(service, outcome.reading.failure);
    if (outcome.reading.failure) return outcome;
    soap.service = service;
    soap.message = std::move(message);
    soap.certificate = certificate_;
    soap.connection = connectionSettings(settings_.documentFolder, settings_.timeoutMs);
    return transport_(soap, messageName);
}

void WebServices::keepAnswer(const std::string& fileName, const std::string& body) const {
    if (body.empty()) return;
    // The answers are kept for the operator and support; a full disk must not change the outcome.
    storeFile(settings_.documentFolder + "retornos/" + fileName, body);
}

namespace {

// Writes the procNFe of `key` under `documentFolder` when `protNFe` authorises it; `signedNfe` "" = read
// the signed file. Answers why the file could not be written (the FileWriteError text), "" when it was
// written, was already there, or there was nothing to write.
std::string storeAuthorised(const std::string& documentFolder, const std::string& key, xmlNode* protNFe,
                            std::string_view signedNfe) {
    if (protNFe == nullptr || !authorises(protocolOf(protNFe).cStat)) return {};
    std::string fileContent;
    if (signedNfe.empty()) {
        if (!readWholeFile(documentFolder + "arquivos/assinado/NFe" + key + "-assinado.xml", fileContent))
            return {};
        signedNfe = rootElementText(fileContent);
        // The file must be the NFe alone: what follows it (another document, stray text) would go into
        // the authorised document too.
        const DocPtr parsed = parsedText(signedNfe);
        if (!named(parsed ? xmlDocGetRootElement(parsed.get()) : nullptr, "NFe")) return {};
    }
    // The protocol must be the one of this very document: a signed file of the same key with other
    // content (signed again after a change) is not what the authority authorised.
    const std::string digVal = protocolOf(protNFe).digVal;
    if (!digVal.empty() && digVal != digestValueOf(signedNfe)) return {};
    const std::string protocol = standaloneText(protNFe);
    if (protocol.empty()) return {};
    const std::string path = documentFolder + "arquivos/procNFe/" + key + "-procNFe.xml";
    const std::string document = nfeProcDocument(signedNfe, protocol);
    // The signed file is taken as text; one that is damaged (or carries a document type declaration,
    // which cannot stand inside nfeProc) would make an authorised document nobody can read.
    if (!wellFormedProc(document)) return {};
    // The routine consults an authorised key several times; the same document is not written again.
    if (std::string existing; readWholeFile(path, existing) && existing == document) return {};
    return storeFile(path, document);
}

}  // namespace

void WebServices::keepAuthorised(const std::string& key, xmlNode* protNFe, std::string_view signedNfe) const {
    // (After a send: the consultation that follows writes the file again and tells of a failure.)
    storeAuthorised(settings_.documentFolder, key, protNFe, signedNfe);
}

SendResult WebServices::send(const std::string& signedXmlPath, const SendArgs& args) {
    std::string content;
    if (!readWholeFile(signedXmlPath, content))
        return failed<SendResult>(xmlDocumentFailure("arquivo assinado '" + signedXmlPath + "' não encontrado"));
    return sendDocument(content, args);
}

SendResult WebServices::sendDocument(std::string_view signedNfe, const SendArgs& args) {
    initialiseXmlLibrary();
    const std::string_view nfe = rootElementText(signedNfe);
    DocPtr parsed = parsedText(nfe);
    xmlNode* root = parsed ? xmlDocGetRootElement(parsed.get()) : nullptr;
    if (!named(root, "NFe")) return failed<SendResult>(xmlDocumentFailure("o documento a enviar não é uma NF-e"));
    xmlChar* id = xmlGetProp(child(root, "infNFe"), BAD_CAST "Id");
    std::string key = id ? reinterpret_cast<const char*>(id) : "";
    xmlFree(id);
    key = consultedKey(key);
    if (key.empty()) return failed<SendResult>(xmlDocumentFailure("NF-e sem chave de acesso válida em infNFe/@Id"));
    if (child(root, "Signature", kDsigNamespace) == nullptr)
        return failed<SendResult>(xmlDocumentFailure("a NF-e " + key + " não está assinada"));
    if (args.nNF < 0 || (args.indSinc != 0 && args.indSinc != 1))
        return failed<SendResult>(xmlDocumentFailure("lote " + std::to_string(args.nNF) + " ou indSinc " +
                                                     std::to_string(args.indSinc) + " inválido"));

    // The NFe goes into the message as text: what its parse let through but an element cannot hold (a
    // NUL, a document type declaration) would make a message the authority can only refuse.
    std::string message = enviNFeMessage(nfe, args.nNF, args.indSinc);
    if (!parsedText(message))
        return failed<SendResult>(xmlDocumentFailure("o texto da NF-e " + key + " não cabe numa mensagem XML"));

    lastSends_.erase(key);
    const SoapOutcome outcome = call(WebService::Authorisation, std::move(message), "retEnviNFe");
    keepAnswer(key + "-ret-envi.xml", outcome.body);
    SendResult result;
    if (!readStatus(outcome, WebService::Authorisation, "retEnviNFe", result)) return result;
    xmlNode* answer = outcome.reading.message;
    result.dhRecbto = childText(answer, "dhRecbto");
    if (xmlNode* protNFe = child(answer, "protNFe")) {
        const Protocol protocol = protocolOf(protNFe);
        result.protocolCStat = protocol.cStat;
        result.protocolXMotivo = protocol.xMotivo;
        result.nProt = protocol.nProt;
        result.protocolDhRecbto = protocol.dhRecbto;
        const std::string protocolOfKey = protocolKey(protNFe);
        if (protocolOfKey.empty() || protocolOfKey == key) {
            if (authorises(protocol.cStat)) {
                keepAuthorised(key, protNFe, nfe);
            } else if (protocol.cStat != kSameKeyAgain &&
                       !(protocol.cStat == 539 && protocol.xMotivo.find(key) != std::string::npos)) {
                // (A 539 naming this very key says the authority holds it: the consultation asks.)
                LastSend& last = lastSends_[key];
                last.rejected = true;
                last.protocol.cStat = 104;
                last.protocol.xMotivo = "Lote processado";
                fillProtocol(last.protocol, protocol);
            }
        }
    } else if (const std::string receipt = childText(child(answer, "infRec"), "nRec");
               result.cStat == 103 && !receipt.empty()) {
        lastSends_[key].receipt = receipt;
    }
    return result;
}

ConsultationResult WebServices::consult(std::string_view accessKey) {
    initialiseXmlLibrary();
    const std::string key = consultedKey(accessKey);
    if (key.empty()) {
        return failed<ConsultationResult>(
            xmlDocumentFailure("chave de acesso '" + std::string(accessKey) + "' inválida: são 44 dígitos"));
    }
    if (const auto last = lastSends_.find(key); last != lastSends_.end()) {
        if (!last->second.receipt.empty()) return consultReceipt(key, last->second.receipt);
        if (last->second.rejected) return last->second.protocol;
    }
    return consultProtocol(key);
}

ConsultationResult WebServices::consultReceipt(const std::string& key, const std::string& receipt) {
    const SoapOutcome outcome =
        call(WebService::ReceiptConsultation, consReciNFeMessage(settings_.tpAmb, receipt), "retConsReciNFe");
    keepAnswer(key + "-ret-cons-reci.xml", outcome.body);
    ConsultationResult result;
    if (!readStatus(outcome, WebService::ReceiptConsultation, "retConsReciNFe", result)) return result;
    xmlNode* answer = outcome.reading.message;
    if (xmlNode* protNFe = protocolFor(answer, key)) {
        const Protocol protocol = protocolOf(protNFe);
        if (protocol.cStat == kSameKeyAgain) {
            lastSends_.erase(key);
            return consultProtocol(key);
        }
        fillProtocol(result, protocol);
        if (authorises(protocol.cStat)) {
            result.storeFailure = storeAuthorised(settings_.documentFolder, key, protNFe, "");
            result.cStat = protocol.cStat;
            result.xMotivo = protocol.xMotivo;
        }
    }
    return result;
}

ConsultationResult WebServices::consultProtocol(const std::string& key) {
    const SoapOutcome outcome =
        call(WebService::ProtocolConsultation, consSitNFeMessage(settings_.tpAmb, key), "retConsSitNFe");
    keepAnswer(key + "-ret-cons-sit.xml", outcome.body);
    ConsultationResult result;
    if (!readStatus(outcome, WebService::ProtocolConsultation, "retConsSitNFe", result)) return result;
    xmlNode* answer = outcome.reading.message;
    if (xmlNode* protNFe = child(answer, "protNFe")) {
        const std::string protocolOfKey = protocolKey(protNFe);
        if (protocolOfKey.empty() || protocolOfKey == key) {
            fillProtocol(result, protocolOf(protNFe));
            result.storeFailure = storeAuthorised(settings_.documentFolder, key, protNFe, "");
        }
    }
    keepEvents(key, answer, result);
    return result;
}

void WebServices::keepEvents(const std::string& key, xmlNode* answer, ConsultationResult& result) const {
    for (xmlNode* node = answer->children; node != nullptr; node = node->next) {
        if (!named(node, "procEventoNFe")) continue;
        xmlNode* info = child(child(node, "evento"), "infEvento");
        xmlNode* registration = child(child(node, "retEvento"), "infEvento");
        RegisteredEvent event;
        if (childText(info, "chNFe") != key || !wholeNumber(childText(info, "tpEvento"), event.tpEvento) ||
            !wholeNumber(childText(info, "nSeqEvento"), event.nSeqEvento))
            continue;
        event.cStat = statusOf(registration);
        event.nProt = childText(registration, "nProt");
        event.dhRegEvento = childText(registration, "dhRegEvento");
        event.chNFeRef = childText(child(info, "detEvento"), "chNFeRef");
        result.events.push_back(event);
        const std::string path = settings_.documentFolder + "arquivos/eventos/" +
                                 eventFileStem(key, event.tpEvento, event.nSeqEvento) + "-procEventoNFe.xml";
        std::error_code ec;
        if (std::filesystem::exists(path, ec)) continue;
        const std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + elementAsSent(node);
        if (parsedText(document)) storeFile(path, document);
    }
}

namespace {

bool registersEvent(std::int32_t cStat) { return cStat == 135 || cStat == 136 || cStat == 155; }

// The retEvento about the event `key`, `tpEvento`, `nSeqEvento` among the children of `answer` (fields
// the authority left out match).
xmlNode* eventAnswerFor(xmlNode* answer, const std::string& key, std::int32_t tpEvento, std::int32_t nSeqEvento) {
    for (xmlNode* node = answer->children; node != nullptr; node = node->next) {
        if (!named(node, "retEvento")) continue;
        xmlNode* info = child(node, "infEvento");
        const std::string answeredKey = childText(info, "chNFe");
        const std::string answeredType = childText(info, "tpEvento");
        const std::string answeredSequence = childText(info, "nSeqEvento");
        if ((answeredKey.empty() || answeredKey == key) &&
            (answeredType.empty() || answeredType == std::to_string(tpEvento)) &&
            (answeredSequence.empty() || answeredSequence == std::to_string(nSeqEvento)))
            return node;
    }
    return nullptr;
}

std::string idOf(xmlNode* element) {
    xmlChar* id = element != nullptr ? xmlGetProp(element, BAD_CAST "Id") : nullptr;
    std::string value = id != nullptr ? reinterpret_cast<const char*>(id) : "";
    xmlFree(id);
    return value;
}

}  // namespace

EventResult WebServices::sendEvent(std::string_view signedEvento, std::int64_t idLote) {
    initialiseXmlLibrary();
    const std::string_view evento = rootElementText(signedEvento);
    DocPtr parsed = parsedText(evento);
    xmlNode* root = parsed ? xmlDocGetRootElement(parsed.get()) : nullptr;
    if (!named(root, "evento")) return failed<EventResult>(xmlDocumentFailure("o documento a enviar não é um evento"));
    xmlNode* info = child(root, "infEvento");
    const std::string key = consultedKey(childText(info, "chNFe"));
    std::int32_t tpEvento = 0, nSeqEvento = 0;
    if (key.empty() || !wholeNumber(childText(info, "tpEvento"), tpEvento) ||
        !wholeNumber(childText(info, "nSeqEvento"), nSeqEvento))
        return failed<EventResult>(xmlDocumentFailure("evento sem chave de acesso, tipo ou sequência válidos"));
    if (child(root, "Signature", kDsigNamespace) == nullptr)
        return failed<EventResult>(xmlDocumentFailure("o evento " + std::to_string(tpEvento) + " da NF-e " + key +
                                                      " não está assinado"));
    if (idLote < 0 || idLote > 999999999999999)
        return failed<EventResult>(xmlDocumentFailure("lote " + std::to_string(idLote) + " inválido"));
    std::string message = envEventoMessage(evento, idLote);
    if (!parsedText(message))
        return failed<EventResult>(xmlDocumentFailure("o texto do evento da NF-e " + key + " não cabe numa mensagem XML"));

    const std::string stem = eventFileStem(key, tpEvento, nSeqEvento);
    const SoapOutcome outcome = call(WebService::EventReception, std::move(message), "retEnvEvento");
    keepAnswer(stem + "-ret-env-evento.xml", outcome.body);
    EventResult result;
    if (!readStatus(outcome, WebService::EventReception, "retEnvEvento", result)) return result;
    xmlNode* answer = outcome.reading.message;
    xmlNode* retEvento = eventAnswerFor(answer, key, tpEvento, nSeqEvento);
    if (retEvento == nullptr) return result;
    xmlNode* registration = child(retEvento, "infEvento");
    result.eventCStat = statusOf(registration);
    result.eventXMotivo = childText(registration, "xMotivo");
    result.nProt = childText(registration, "nProt");
    result.dhRegEvento = childText(registration, "dhRegEvento");
    if (registersEvent(result.eventCStat)) {
        const std::string path = settings_.documentFolder + "arquivos/eventos/" + stem + "-procEventoNFe.xml";
        const std::string document = procEventoDocument(evento, elementAsSent(retEvento));
        if (parsedText(document)) {
            result.storeFailure = storeFile(path, document);
            if (result.storeFailure.empty()) result.storedPath = path;
        }
    }
    return result;
}

VoidingResult WebServices::voidNumbers(std::string_view signedInutNFe) {
    initialiseXmlLibrary();
    const std::string_view inutNFe = rootElementText(signedInutNFe);
    DocPtr parsed = parsedText(inutNFe);
    xmlNode* root = parsed ? xmlDocGetRootElement(parsed.get()) : nullptr;
    if (!named(root, "inutNFe"))
        return failed<VoidingResult>(xmlDocumentFailure("o documento a enviar não é um pedido de inutilização"));
    const std::string id = idOf(child(root, "infInut"));
    const std::string stem = voidingFileStem(id);
    if (id.size() != 43 || stem.size() != 41 || !isDigits(stem))
        return failed<VoidingResult>(xmlDocumentFailure("pedido de inutilização sem Id válido em infInut/@Id"));
    if (child(root, "Signature", kDsigNamespace) == nullptr)
        return failed<VoidingResult>(xmlDocumentFailure("o pedido de inutilização " + id + " não está assinado"));

    const SoapOutcome outcome = call(WebService::Voiding, std::string(inutNFe), "retInutNFe");
    keepAnswer(stem + "-ret-inut.xml", outcome.body);
    VoidingResult result;
    if (!readStatus(outcome, WebService::Voiding, "retInutNFe", result, "infInut")) return result;
    xmlNode* answer = outcome.reading.message;
    xmlNode* info = child(answer, "infInut");
    result.nProt = childText(info, "nProt");
    result.dhRecbto = childText(info, "dhRecbto");
    if (result.cStat != 102 && result.cStat != 563) return result;
    const std::string path = settings_.documentFolder + "arquivos/inutilizadas/" + stem + "-procInutNFe.xml";
    // A repeated request (563) answers the earlier protocol: the document of the first answer stays.
    if (std::string existing; result.cStat == 563 && readWholeFile(path, existing) && parsedText(existing)) {
        result.storedPath = path;
        return result;
    }
    const std::string document = procInutDocument(inutNFe, elementAsSent(answer));
    if (parsedText(document)) {
        result.storeFailure = storeFile(path, document);
        if (result.storeFailure.empty()) result.storedPath = path;
    }
    return result;
}

ServiceStatusResult WebServices::serviceStatus() {
    initialiseXmlLibrary();
    const std::string cUF = ufCode(settings_.uf);
    if (cUF.empty())
        return failed<ServiceStatusResult>(xmlDocumentFailure("UF '" + settings_.uf + "' desconhecida para consStatServ"));
    const SoapOutcome outcome =
        call(WebService::ServiceStatus, consStatServMessage(settings_.tpAmb, cUF), "retConsStatServ");
    keepAnswer(cUF + "-" + timestamp() + "-ret-sta.xml", outcome.body);
    ServiceStatusResult result;
    readStatus(outcome, WebService::ServiceStatus, "retConsStatServ", result);
    return result;
}

}  // namespace quorvanti::fiscal
