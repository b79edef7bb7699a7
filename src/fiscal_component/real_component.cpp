#include "fiscal_component/real_component.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "fiscal_component/certificates/certificate_selector.h"
#include "fiscal_component/document/access_key.h"
#include "fiscal_component/document/document_validator.h"
#include "fiscal_component/document/event_documents.h"
#include "fiscal_component/document/nfce_format.h"
#include "fiscal_component/document/numeric_code.h"
#include "fiscal_component/document/qr_code.h"
#include "fiscal_component/document/schema_validation.h"
#include "fiscal_component/signing/xml_signer.h"
#include "platform/clock.h"
#include "platform/durable_file.h"
#include "platform/folders.h"
#include "platform/version.h"

namespace quorvanti::fiscal {

namespace {

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// The authority's statuses end here; above are the failures to reach or read it (soap_transport.h).
constexpr std::int32_t kLastAuthorityStatus = 8999;

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

// What tells that a file is still the one this instance wrote.
std::string stampOf(const struct stat& st) {
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + "/" + std::to_string(st.st_size) + "/" +
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

std::string fileStamp(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? stampOf(st) : std::string();
}

// Writes `content` as the whole file at `path` (durably: a partial file is never left under that name;
// see platform::writeFileDurably), making its folder when missing, and answers its stamp. A failure
// raises ComponentError naming the file and the reason.
std::string writeNewFile(const std::string& path, std::string_view content) {
    struct stat st {};
    try {
        platform::writeFileDurably(path, content, &st);
    } catch (const platform::FileWriteError& error) {
        throw ComponentError(error.what());
    }
    return stampOf(st);
}

std::string supplementElement(const std::string& qrCode, const std::string& urlChave) {
    return "<infNFeSupl><qrCode><![CDATA[" + qrCode + "]]></qrCode><urlChave>" + xmlEscape(urlChave) +
           "</urlChave></infNFeSupl>";
}

xmlNode* elementChild(xmlNode* parent, const char* name) {
    for (xmlNode* child = parent ? parent->children : nullptr; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && xmlStrEqual(child->name, BAD_CAST name)) return child;
    }
    return nullptr;
}

}  // namespace

RealFiscalComponent::RealFiscalComponent(std::string certificateFolder) : store_(std::move(certificateFolder)) {
    initialiseXmlLibrary();
}

bool RealFiscalComponent::numericCode(std::int32_t& code) {
    code = randomNumericCode();
    return true;
}

bool RealFiscalComponent::finish() { return true; }

bool RealFiscalComponent::statusQuery(bool& usable) {
    statusProblem_.clear();
    try {
        initialiseXmlLibrary();
        store_.checkUsable();
        if (configured_ && !config_.certificateSerial.empty()) {
            signer();
        }
    } catch (const std::exception& e) {
        statusProblem_ = e.what();
    }
    usable = statusProblem_.empty();
    return true;
}

bool RealFiscalComponent::configure(const ConfigurationArgs& args) {
    if (ufCode(args.uf).empty()) throw ComponentError("UF do emitente '" + args.uf + "' desconhecida");
    if (args.tpAmb != 1 && args.tpAmb != 2) {
        throw ComponentError("Ambiente " + std::to_string(args.tpAmb) + " inválido: use 1 (produção) ou 2 (homologação)");
    }
    if (args.model != 65) {
        throw ComponentError("Modelo " + std::to_string(args.model) + " não suportado: este componente emite NFC-e (65)");
    }
    config_ = args;
    config_.uf = trimmed(args.uf);
    configured_ = true;
    return true;
}

bool RealFiscalComponent::mailSettings(const MailSettingsArgs& args) {
    mail_ = args;
    return true;
}

bool RealFiscalComponent::danfeLogo(const DanfeLogoArgs& args) {
    logo_ = args;
    return true;
}

NfceDocument& RealFiscalComponent::document() {
    if (!document_) document_ = std::make_unique<NfceDocument>(DocumentSettings{config_.uf, config_.tpAmb});
    return *document_;
}

bool RealFiscalComponent::prepare(SharedTexts&) {
    document_.reset();
    document();
    return true;
}

bool RealFiscalComponent::identification(const IdentificationArgs& args, SharedTexts&) {
    document().identification(args);
    return true;
}

bool RealFiscalComponent::emitter(const EmitterArgs& args, SharedTexts&) {
    document().emitter(args);
    return true;
}

bool RealFiscalComponent::recipient(const RecipientArgs& args, SharedTexts&) {
    document().recipient(args);
    return true;
}

bool RealFiscalComponent::itemProduct(const ItemProductArgs& args, SharedTexts&) {
    document().itemProduct(args);
    return true;
}

bool RealFiscalComponent::itemIcms(const ItemIcmsArgs& args, SharedTexts&) {
    document().itemIcms(args);
    return true;
}

bool RealFiscalComponent::itemOtherTaxes(const ItemOtherTaxesArgs& args, SharedTexts&) {
    document().itemOtherTaxes(args);
    return true;
}

bool RealFiscalComponent::itemClose(SharedTexts&) {
    document().itemClose();
    return true;
}

bool RealFiscalComponent::totals(const TotalsArgs& args, SharedTexts&) {
    document().totals(args);
    return true;
}

bool RealFiscalComponent::transport(const TransportArgs& args, SharedTexts&) {
    document().transport(args);
    return true;
}

bool RealFiscalComponent::payment(const PaymentArgs& args, SharedTexts&) {
    document().payment(args);
    return true;
}

std::shared_ptr<const LoadedCertificate> RealFiscalComponent::signer() const {
    if (trimmed(config_.certificateSerial).empty()) {
        throw ComponentError("Nenhum certificado digital configurado: escolha o certificado do emitente");
    }
    try {
        return store_.find(config_.certificateSerial);
    } catch (const std::exception& e) {
        throw ComponentError(e.what());
    }
}

bool RealFiscalComponent::generate(std::string& key, GenerationArgs& args, SharedTexts&) {
    if (!configured_) throw ComponentError("Componente fiscal não configurado: a geração exige a configuração");
    if (!document_) throw ComponentError("Nenhum documento preparado para gerar");
    const NfceDocument& doc = *document_;
    doc.checkComplete();
    const std::shared_ptr<const LoadedCertificate> certificate = signer();
    if (trimmed(config_.csc).empty()) {
        throw ComponentError("CSC (código de segurança do contribuinte) não configurado: o QR Code exige o CSC");
    }
    qrTokenId(config_.cscId);  // refuses an identifier that is not numeric before anything is written

    AccessKeyFields fields = doc.keyFields();
    fields.numericCode = numericCodeFor(doc.callerNumericCode(), fields.number);
    const std::string accessKey = buildAccessKey(fields);

    const std::string folder = platform::withTrailingSlash(config_.documentFolder);
    const ConsultationAddress address = consultationAddress(config_.uf, config_.tpAmb, folder + "webservices.ini");
    if (address.qrCode.empty() || address.urlChave.empty()) {
        throw ComponentError("Endereço de consulta do QR Code da UF " + config_.uf + " desconhecido: informe-o em " +
                             folder + "webservices.ini, seção " + config_.uf + "_" + std::to_string(config_.tpAmb) +
                             ", chaves QRCode e urlChave");
    }
    if (address.qrCode.find("]]>") != std::string::npos) throw ComponentError("Endereço do QR Code inválido");

    const bool offline = doc.emissionType() == 9;
    const std::string unsignedXml =
        offline ? doc.write(accessKey)
                : doc.write(accessKey, supplementElement(onlineQrCode(address.qrCode, accessKey, config_.tpAmb,
                                                                      config_.cscId, config_.csc),
                                                         address.urlChave));
    const std::string generatedPath = folder + "arquivos/gerados/NFe" + accessKey + ".xml";
    const std::string signedPath = folder + "arquivos/assinado/NFe" + accessKey + "-assinado.xml";
    writeNewFile(generatedPath, kDeclaration + unsignedXml);

    NfeSignature signature;
    try {
        signature = signNfeText(unsignedXml, *certificate);
    } catch (const std::exception& e) {
        throw ComponentError(std::string("Falha ao assinar a NFC-e: ") + e.what());
    }
    // The signed file is the unsigned text with infNFeSupl (offline: its QR code needs the digest) and
    // the Signature put before </NFe>.
    const std::string supplement =
        offline ? supplementElement(offlineQrCode(address.qrCode, accessKey, config_.tpAmb, doc.emissionDateTime(),
                                                  doc.invoiceValueText(), signature.digestValue, config_.cscId,
                                                  config_.csc),
                                    address.urlChave)
                : std::string();
    std::string signedXml;
    signedXml.reserve(kDeclaration.size() + unsignedXml.size() + supplement.size() + signature.element.size());
    signedXml += kDeclaration;
    signedXml.append(unsignedXml, 0, unsignedXml.size() - std::string_view("</NFe>").size());
    signedXml += supplement;
    signedXml += signature.element;
    signedXml += "</NFe>";
    // The validation that follows in the emission routine uses this text instead of reading the file
    // back, as long as the file is the one written here.
    lastSignedStamp_ = writeNewFile(signedPath, signedXml);
    lastSignedXml_ = std::move(signedXml);
    lastSignedPath_ = signedPath;

    args.generatedXmlPath = generatedPath;
    args.signedXmlPath = signedPath;
    key = "NFe" + accessKey;
    return true;
}

WebServices& RealFiscalComponent::webServices() {
    if (!configured_) throw ComponentError("Componente fiscal não configurado");
    if (!webServices_) {
        webServices_ = std::make_unique<WebServices>(
            WebServiceSettings{.uf = config_.uf, .tpAmb = config_.tpAmb, .documentFolder = config_.documentFolder,
                               .timeoutMs = config_.timeoutMs},
            [this] { return signer(); });
    }
    return *webServices_;
}

// The web-service operations answer true once the call was made: what the authority said, or why it
// could not be reached (a code above 8999), is in the result records the routine reads next.
bool RealFiscalComponent::serviceStatus() {
    serviceStatusResult_ = webServices().serviceStatus();
    return true;
}

bool RealFiscalComponent::send(const SendArgs& args) {
    const std::string path = args.signedXmlPath.empty() ? lastSignedPath_ : args.signedXmlPath;
    if (path.empty()) throw ComponentError("Nenhum documento assinado para enviar: gere o XML antes do envio");
    sendResult_ = webServices().send(path, args);
    return true;
}

bool RealFiscalComponent::consultByKey(const std::string& accessKey) {
    consultationResult_ = webServices().consult(accessKey);
    return true;
}

bool RealFiscalComponent::qrAddress(const std::string& xmlPath, std::string& qrText, std::string& resultText) {
    qrText.clear();
    resultText.clear();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(xmlPath, ec)) {
        resultText = "Arquivo '" + xmlPath + "' não encontrado";
        return false;
    }
    DocPtr parsed(xmlReadFile(xmlPath.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!parsed) {
        resultText = "Arquivo '" + xmlPath + "' não é um XML válido";
        return false;
    }
    xmlNode* root = xmlDocGetRootElement(parsed.get());
    xmlNode* nfe = root && xmlStrEqual(root->name, BAD_CAST "nfeProc") ? elementChild(root, "NFe") : root;
    xmlNode* qr = elementChild(elementChild(nfe, "infNFeSupl"), "qrCode");
    if (!qr) {
        resultText = "Arquivo '" + xmlPath + "' não tem QR Code (infNFeSupl/qrCode)";
        return false;
    }
    xmlChar* content = xmlNodeGetContent(qr);
    qrText = trimmed(content ? reinterpret_cast<const char*>(content) : "");
    xmlFree(content);
    if (qrText.empty()) {
        resultText = "QR Code vazio em '" + xmlPath + "'";
        return false;
    }
    return true;
}

bool RealFiscalComponent::validate(const ValidationArgs& args, std::string& message) {
    const bool generatedHere = !lastSignedPath_.empty() && args.signedXmlPath == lastSignedPath_ &&
                               !lastSignedStamp_.empty() && fileStamp(args.signedXmlPath) == lastSignedStamp_;
    const SchemaVerdict verdict = generatedHere ? validateNfeText(lastSignedXml_, config_.schemaFolder)
                                                : validateNfeFile(args.signedXmlPath, config_.schemaFolder);
    message = verdict.message;
    return verdict.valid;
}

ServiceStatusResult RealFiscalComponent::serviceStatusResult() const { return serviceStatusResult_; }

SendResult RealFiscalComponent::sendResult() const { return sendResult_; }

ConsultationResult RealFiscalComponent::consultationResult() const { return consultationResult_; }

EventIssuer RealFiscalComponent::issuer() const {
    if (!configured_) throw ComponentError("Componente fiscal não configurado: eventos e inutilizações exigem a configuração");
    // The application's version as the NFC-e's verProc names it.
    return EventIssuer{.uf = config_.uf, .tpAmb = config_.tpAmb, .cnpj = config_.cnpj,
                       .verAplic = "TAVU - " + std::to_string(platform::kVersionMajor) + "." +
                                   std::to_string(platform::kVersionMinor) + "." +
                                   std::to_string(platform::kVersionRevision)};
}

std::string RealFiscalComponent::signRequest(const std::string& unsignedXml, const char* rootName,
                                             const char* signedName, const std::string& signedPath) const {
    const std::shared_ptr<const LoadedCertificate> certificate = signer();
    std::string signedXml;
    try {
        signedXml = signElementText(unsignedXml, rootName, signedName, *certificate);
    } catch (const std::exception& e) {
        throw ComponentError(std::string("Falha ao assinar o pedido (") + rootName + "): " + e.what());
    }
    writeNewFile(signedPath, kDeclaration + signedXml);
    return signedXml;
}

namespace {

// The machine's instant and its time zone's offset (whole minutes), for requests the caller left undated.
std::pair<platform::Instant, std::chrono::seconds> hostNow() {
    const platform::SystemClock clock;
    const platform::Instant now = clock.utcNow();
    const auto offset = platform::instantOf(clock.now(), std::chrono::seconds{0}) - now;
    // The two reads may straddle a second.
    const auto minutes = std::chrono::round<std::chrono::minutes>(offset);
    return {now, std::chrono::duration_cast<std::chrono::seconds>(minutes)};
}

}  // namespace

bool RealFiscalComponent::sendEvent(const EventArgs& given) {
    eventResult_ = EventResult{};
    EventArgs args = given;
    if (trimmed(args.dhEvento).empty()) {
        const auto [now, offset] = hostNow();
        args.dhEvento = dateTimeWithOffset(now, offset);
    }
    const UnsignedRequest request = eventoRequest(args, issuer());
    const std::string stem = eventFileStem(trimmed(args.accessKey), args.tpEvento, args.nSeqEvento);
    const std::string signedPath =
        platform::withTrailingSlash(config_.documentFolder) + "arquivos/eventos/" + stem + "-evento-assinado.xml";
    const std::string signedXml = signRequest(request.xml, "evento", "infEvento", signedPath);
    eventResult_ = webServices().sendEvent(signedXml, args.idLote);
    return eventResult_.cStat <= kLastAuthorityStatus;
}

bool RealFiscalComponent::voidNumbers(const VoidingArgs& given) {
    voidingResult_ = VoidingResult{};
    VoidingArgs args = given;
    if (args.year == 0) {
        const auto [now, offset] = hostNow();
        args.year = platform::dateTimeAt(now, offset).year % 100;
    }
    const UnsignedRequest request = inutNFeRequest(args, issuer());
    const std::string signedPath = platform::withTrailingSlash(config_.documentFolder) + "arquivos/inutilizadas/" +
                                   voidingFileStem(request.id) + "-inutNFe-assinado.xml";
    const std::string signedXml = signRequest(request.xml, "inutNFe", "infInut", signedPath);
    voidingResult_ = webServices().voidNumbers(signedXml);
    return voidingResult_.cStat <= kLastAuthorityStatus;
}

EventResult RealFiscalComponent::eventResult() const { return eventResult_; }
VoidingResult RealFiscalComponent::voidingResult() const { return voidingResult_; }

RealComponentFactory::RealComponentFactory(std::string certificateFolder, platform::Frontend& frontend)
    : certificateFolder_(std::move(certificateFolder)), frontend_(frontend) {}

std::unique_ptr<FiscalComponent> RealComponentFactory::createComponent() {
    return std::make_unique<RealFiscalComponent>(certificateFolder_);
}

std::unique_ptr<CertificateSelector> RealComponentFactory::createCertificateSelector() {
    return std::make_unique<StoreCertificateSelector>(frontend_, certificateFolder_);
}

std::unique_ptr<DocumentValidator> RealComponentFactory::createDocumentValidator() {
    return std::make_unique<CpfCnpjValidator>();
}

}  // namespace quorvanti::fiscal
