// The signature is made with OpenSSL over canonical bytes written here, rather than with libxmlsec: the
// NFC-e admits exactly one signature shape (one Reference to infNFe, fixed algorithms), so xmlsec's
// general machinery buys nothing, while it would cost a global initialisation with its own locking, a
// key copy into xmlsec's key objects and a template and context per document, and it leaves
// library-global state behind at exit. The component's writer emits infNFe already in canonical form,
// so a sale's document is signed from its text without a parse; other documents are parsed and
// canonicalised by the writer below. Correctness is held against the real xmlsec1 verifier and against
// libxml2's canonicaliser in the tests.
#include "fiscal_component/signing/xml_signer.h"

#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>
#include <stdexcept>
#include <vector>

#include <openssl/err.h>
#include <openssl/evp.h>

#include "fiscal_component/document/xml_names.h"

namespace quorvanti::fiscal {

namespace {

const xmlChar* x(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

// The NFe element: the root of a signed document, or the child of nfeProc in an authorised one.
xmlNode* nfeElement(xmlDoc* document) {
    xmlNode* root = document != nullptr ? xmlDocGetRootElement(document) : nullptr;
    if (isElement(root, "NFe", kNfeNamespace)) return root;
    if (isElement(root, "nfeProc", kNfeNamespace)) return childElement(root, "NFe", kNfeNamespace);
    return nullptr;
}

// SHA-1 fetched once: an implicit fetch per signature would search the provider store every time.
const EVP_MD* sha1() {
    static EVP_MD* const md = [] {
        xmlInitParser();  // once, before any thread canonicalises: libxml2 wants its globals set up first
        return EVP_MD_fetch(nullptr, "SHA1", nullptr);
    }();
    if (md == nullptr) throw std::runtime_error("SHA-1 não está disponível na biblioteca OpenSSL");
    return md;
}

std::string openSslFailure(const std::string& what) {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return what + (reason != nullptr ? std::string(" (") + reason + ")" : std::string());
}

std::string base64(const unsigned char* bytes, std::size_t length) {
    std::string text(4 * ((length + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes, static_cast<int>(length));
    text.resize(static_cast<std::size_t>(written));
    return text;
}

struct MdContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, MdContextFree>;

MdContext newMdContext() {
    MdContext context(EVP_MD_CTX_new());
    if (!context) throw std::runtime_error("Sem memória para a assinatura");
    return context;
}

// The node set of one element's subtree, as a same-document reference "#id" selects it: the element,
// its attributes, its namespace nodes (inherited declarations included) and all its descendants.
int inSubtree(void* top, xmlNode* node, xmlNode* parent) {
    // For namespace nodes libxml2 passes the xmlNs with the owning element as `parent`; xmlNs and
    // xmlNode both start with a pointer followed by their type, which is how libxml2 itself tells them
    // apart.
    const xmlNode* current = node != nullptr && node->type == XML_NAMESPACE_DECL ? parent : node;
    for (; current != nullptr; current = current->parent) {
        if (current == top) return 1;
    }
    return 0;
}

int appendToString(void* text, const char* bytes, int length) {
    static_cast<std::string*>(text)->append(bytes, static_cast<std::size_t>(length));
    return length;
}

int closeNothing(void*) { return 0; }

// libxml2's own canonicalisation, for the trees the fast writer below does not take on.
std::string libxmlCanonical(xmlNode* element) {
    std::string text;
    xmlOutputBuffer* output = xmlOutputBufferCreateIO(appendToString, closeNothing, &text, nullptr);
    if (output == nullptr) throw std::runtime_error("Sem memória para a canonicalização do XML");
    const int result = xmlC14NExecute(element->doc, inSubtree, element, XML_C14N_1_0, nullptr, 0, output);
    if (xmlOutputBufferClose(output) < 0 || result < 0)
        throw std::runtime_error("Falha na canonicalização do elemento " +
                                 std::string(reinterpret_cast<const char*>(element->name)));
    return text;
}

const char* str(const xmlChar* text) { return text != nullptr ? reinterpret_cast<const char*>(text) : ""; }

// Inclusive C14N 1.0 without comments of one element's subtree, written directly: libxml2's general
// canonicaliser costs several times a plain serialisation (it builds lists and searches namespaces
// for every node), which for a 10-item NFC-e is a quarter of the RSA operation. This writer covers what
// NFC-e documents hold (elements, attributes, text, CDATA, comments, namespace declarations); anything
// else (processing instructions, entity references, inherited xml:* attributes, namespaces the tree
// uses without declaring them) makes it give up, and libxml2 does the work. The tests hold its output
// byte for byte against libxml2's.
class FastCanonicaliser {
public:
    // False when the tree holds something this writer leaves to libxml2.
    bool write(xmlNode* apex, std::string& out) {
        out_ = &out;
        out.reserve(8192);
        scope_.clear();
        if (!openApex(apex)) return false;
        return writeContent(apex) && closeElement(apex);
    }

private:
    struct Binding {
        const xmlChar* prefix;  // nullptr for the default namespace
        const xmlChar* href;    // "" for an undeclared default namespace
    };

    const xmlChar* bound(const xmlChar* prefix) const {
        for (auto it = scope_.rbegin(); it != scope_.rend(); ++it)
            if (xmlStrEqual(it->prefix, prefix)) return it->href;
        return nullptr;
    }

    // Whether `ns` (of an element or attribute) is what its prefix means here; libxml2 trees built by
    // hand can point at declarations out of scope, which only libxml2's writer renders its own way.
    bool inScope(const xmlNs* ns, bool attribute) const {
        if (ns == nullptr) {
            if (attribute) return true;
            const xmlChar* def = bound(nullptr);
            return def == nullptr || *def == 0;
        }
        if (xmlStrEqual(ns->prefix, x("xml"))) return attribute;
        if (attribute && ns->prefix == nullptr) return false;
        const xmlChar* href = bound(ns->prefix);
        return href != nullptr && xmlStrEqual(href, ns->href);
    }

    static bool byPrefix(const Binding& a, const Binding& b) {
        if (a.prefix == nullptr || b.prefix == nullptr) return a.prefix == nullptr && b.prefix != nullptr;
        return xmlStrcmp(a.prefix, b.prefix) < 0;
    }

    bool openApex(xmlNode* apex) {
        // Every namespace in scope at the apex is rendered there, the nearest declaration winning; an
        // xml:* attribute of an ancestor would have to be copied onto the apex.
        std::vector<Binding> declared;
        for (xmlNode* e = apex; e != nullptr && e->type == XML_ELEMENT_NODE; e = e->parent) {
            for (xmlNs* ns = e->nsDef; ns != nullptr; ns = ns->next) {
                if (xmlStrEqual(ns->prefix, x("xml"))) continue;
                const bool seen = std::any_of(declared.begin(), declared.end(),
                                              [&](const Binding& b) { return xmlStrEqual(b.prefix, ns->prefix); });
                if (!seen) declared.push_back({ns->prefix, ns->href != nullptr ? ns->href : x("")});
            }
            if (e != apex) {
                for (xmlAttr* a = e->properties; a != nullptr; a = a->next)
                    if (a->ns != nullptr && xmlStrEqual(a->ns->prefix, x("xml"))) return false;
            }
        }
        std::vector<Binding> rendered;
        for (const Binding& b : declared)
            if (*b.href != 0) rendered.push_back(b);
        std::sort(rendered.begin(), rendered.end(), byPrefix);
        scope_ = declared;
        return openElement(apex, rendered);
    }

    // The start tag, with `rendered` namespace declarations (already sorted) and sorted attributes.
    bool openElement(xmlNode* element, const std::vector<Binding>& rendered) {
        if (!inScope(element->ns, false)) return false;
        std::string& out = *out_;
        out += '<';
        appendName(element->ns, element->name);
        for (const Binding& b : rendered) {
            out += b.prefix == nullptr ? " xmlns" : " xmlns:";
            out += str(b.prefix);
            out += "=\"";
            appendEscaped(b.href, true);
            out += '"';
        }
        attributes_.clear();
        for (xmlAttr* a = element->properties; a != nullptr; a = a->next) {
            if (!inScope(a->ns, true)) return false;
            if (a->children != nullptr && (a->children->type != XML_TEXT_NODE || a->children->next != nullptr))
                return false;
            attributes_.push_back(a);
        }
        std::sort(attributes_.begin(), attributes_.end(), [](const xmlAttr* a, const xmlAttr* b) {
            const int byNamespace = xmlStrcmp(a->ns != nullptr ? a->ns->href : x(""), b->ns != nullptr ? b->ns->href : x(""));
            return byNamespace != 0 ? byNamespace < 0 : xmlStrcmp(a->name, b->name) < 0;
        });
        for (const xmlAttr* a : attributes_) {
            out += ' ';
            appendName(a->ns, a->name);
            out += "=\"";
            appendEscaped(a->children != nullptr ? a->children->content : nullptr, true);
            out += '"';
        }
        out += '>';
        return true;
    }

    bool closeElement(const xmlNode* element) {
        *out_ += "</";
        appendName(element->ns, element->name);
        *out_ += '>';
        return true;
    }

    bool writeContent(xmlNode* element) {
        for (xmlNode* child = element->children; child != nullptr; child = child->next) {
            switch (child->type) {
            case XML_ELEMENT_NODE: {
                // Only declarations that change what the parent rendered appear again.
                const std::size_t scopeSize = scope_.size();
                std::vector<Binding> rendered;
                for (xmlNs* ns = child->nsDef; ns != nullptr; ns = ns->next) {
                    if (xmlStrEqual(ns->prefix, x("xml"))) continue;
                    const xmlChar* href = ns->href != nullptr ? ns->href : x("");
                    const xmlChar* current = bound(ns->prefix);
                    const bool same = current != nullptr ? xmlStrEqual(current, href) : *href == 0;
                    if (!same) rendered.push_back({ns->prefix, href});
                    scope_.push_back({ns->prefix, href});
                }
                std::sort(rendered.begin(), rendered.end(), byPrefix);
                if (!openElement(child, rendered) || !writeContent(child) || !closeElement(child)) return false;
                scope_.resize(scopeSize);
                break;
            }
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                appendEscaped(child->content, false);
                break;
            case XML_COMMENT_NODE:
                break;
            default:
                return false;
            }
        }
        return true;
    }

    void appendName(const xmlNs* ns, const xmlChar* name) {
        if (ns != nullptr && ns->prefix != nullptr) {
            *out_ += str(ns->prefix);
            *out_ += ':';
        }
        *out_ += str(name);
    }

    void appendEscaped(const xmlChar* text, bool attribute) {
        if (text == nullptr) return;
        std::string& out = *out_;
        const char* run = reinterpret_cast<const char*>(text);
        for (const char* p = run;; ++p) {
            const char* escaped = nullptr;
            switch (*p) {
            case '&': escaped = "&amp;"; break;
            case '<': escaped = "&lt;"; break;
            case '>': escaped = attribute ? nullptr : "&gt;"; break;
            case '"': escaped = attribute ? "&quot;" : nullptr; break;
            case '\t': escaped = attribute ? "&#x9;" : nullptr; break;
            case '\n': escaped = attribute ? "&#xA;" : nullptr; break;
            case '\r': escaped = "&#xD;"; break;
            case '\0': out.append(run, static_cast<std::size_t>(p - run)); return;
            default: break;
            }
            if (escaped != nullptr) {
                // Plain characters are copied in runs: most text has nothing to escape.
                out.append(run, static_cast<std::size_t>(p - run));
                out += escaped;
                run = p + 1;
            }
        }
    }

    std::string* out_ = nullptr;
    std::vector<Binding> scope_;
    std::vector<xmlAttr*> attributes_;
};

}  // namespace

std::string canonicalSubtree(xmlNode* element) {
    std::string text;
    FastCanonicaliser writer;
    if (writer.write(element, text)) return text;
    return libxmlCanonical(element);
}

namespace {

std::string sha1Base64(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, sha1(), nullptr) != 1)
        throw std::runtime_error(openSslFailure("Falha no resumo SHA-1"));
    return base64(digest, length);
}

std::string rsaSha1Base64(std::string_view canonical, EVP_PKEY* key) {
    MdContext context = newMdContext();
    if (EVP_DigestSignInit(context.get(), nullptr, sha1(), nullptr, key) != 1)
        throw CertificateError(openSslFailure("A chave do certificado não serve para assinar com RSA-SHA1"));
    const auto* bytes = reinterpret_cast<const unsigned char*>(canonical.data());
    std::size_t length = 0;
    if (EVP_DigestSign(context.get(), nullptr, &length, bytes, canonical.size()) != 1)
        throw std::runtime_error(openSslFailure("Falha ao assinar o documento"));
    std::vector<unsigned char> value(length);
    if (EVP_DigestSign(context.get(), value.data(), &length, bytes, canonical.size()) != 1)
        throw std::runtime_error(openSslFailure("Falha ao assinar o documento"));
    return base64(value.data(), length);
}

void checkSigner(const LoadedCertificate& signer) {
    if (signer.privateKey() == nullptr || signer.certificateBase64().empty())
        throw CertificateError("O certificado " + signer.info().file + " não tem chave para assinar");
}

// SignedInfo as the Signature element carries it (the namespace comes from Signature), already in
// canonical form apart from that declaration: explicit end tags, one attribute per element.
std::string signedInfoElement(std::string_view reference, std::string_view digest) {
    std::string text;
    text.reserve(640);
    text += "<SignedInfo><CanonicalizationMethod Algorithm=\"";
    text += kC14n;
    text += "\"></CanonicalizationMethod><SignatureMethod Algorithm=\"";
    text += kRsaSha1;
    text += "\"></SignatureMethod><Reference URI=\"";
    text += reference;
    text += "\"><Transforms><Transform Algorithm=\"";
    text += kEnveloped;
    text += "\"></Transform><Transform Algorithm=\"";
    text += kC14n;
    text += "\"></Transform></Transforms><DigestMethod Algorithm=\"";
    text += kSha1;
    text += "\"></DigestMethod><DigestValue>";
    text += digest;
    text += "</DigestValue></Reference></SignedInfo>";
    return text;
}

std::string signatureElement(std::string_view signedInfo, std::string_view value, std::string_view certificate) {
    std::string text;
    text.reserve(signedInfo.size() + value.size() + certificate.size() + 200);
    text += "<Signature xmlns=\"";
    text += kDsigNamespace;
    text += "\">";
    text += signedInfo;
    text += "<SignatureValue>";
    text += value;
    text += "</SignatureValue><KeyInfo><X509Data><X509Certificate>";
    text += certificate;
    text += "</X509Certificate></X509Data></KeyInfo></Signature>";
    return text;
}

bool isNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Attribute values the writer's form admits: nothing a canonical writer would escape or normalise.
bool isPlainValueCharacter(char c) { return isNameCharacter(c) || c == '.' || c == '-'; }

// Whether the content of an element, as text, is what canonicalisation of its parsed form gives back:
// tags without blanks or empty-element form, at most one plain attribute (no namespace declaration),
// no comments, CDATA or processing instructions, and only the escapes a canonical writer uses.
bool isCanonicalContent(std::string_view content) {
    static constexpr auto kMarkup = [] {
        std::array<bool, 256> markup{};
        for (const unsigned char c : {'<', '&', '>', '\r'}) markup[c] = true;
        return markup;
    }();
    const std::size_t size = content.size();
    std::size_t i = 0;
    const auto name = [&] {
        const std::size_t start = i;
        while (i < size && isNameCharacter(content[i])) ++i;
        return i > start;
    };
    while (i < size) {
        switch (content[i]) {
        case '<': {
            ++i;
            const bool closing = i < size && content[i] == '/';
            if (closing) ++i;
            if (!name()) return false;
            if (!closing && i < size && content[i] == ' ') {
                ++i;
                const std::size_t attribute = i;
                if (!name() || content.substr(attribute, 5) == "xmlns" || content.substr(i, 2) != "=\"") return false;
                i += 2;
                while (i < size && isPlainValueCharacter(content[i])) ++i;
                if (i >= size || content[i] != '"') return false;
                ++i;
            }
            if (i >= size || content[i] != '>') return false;
            ++i;
            break;
        }
        case '&': {
            const std::string_view rest = content.substr(i);
            std::size_t length = 0;
            for (const std::string_view escape : {"&amp;", "&lt;", "&gt;", "&#xD;"}) {
                if (rest.substr(0, escape.size()) == escape) length = escape.size();
            }
            if (length == 0) return false;
            i += length;
            break;
        }
        case '>':
        case '\r':
            return false;
        default:
            // Plain text in one run: the loop is most of the document.
            while (i < size && !kMarkup[static_cast<unsigned char>(content[i])]) ++i;
        }
    }
    return true;
}

// The canonical form of infNFe and its Id, when `text` is in the writer's form (see the header).
bool canonicalInfNfeAsWritten(std::string_view text, std::string& canonical, std::string& id) {
    static const std::string rootStart = std::string("<NFe xmlns=\"") + kNfeNamespace + "\">";
    std::size_t at = 0;
    if (text.substr(0, 5) == "<?xml") {
        at = text.find("?>");
        if (at == std::string_view::npos) return false;
        at += 2;
    }
    while (at < text.size() && (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' || text[at] == '\t')) ++at;
    if (text.substr(at, rootStart.size()) != rootStart) return false;
    at += rootStart.size();
    constexpr std::string_view kInfNfe = "<infNFe";
    if (text.substr(at, kInfNfe.size()) != kInfNfe) return false;
    const std::size_t tagEnd = text.find('>', at);
    const std::size_t end = text.find("</infNFe>", at);
    if (tagEnd == std::string_view::npos || end == std::string_view::npos || end < tagEnd) return false;

    // The start tag: versao and Id, in either order, with plain values.
    std::string_view attributes = text.substr(at + kInfNfe.size(), tagEnd - at - kInfNfe.size());
    std::string_view version;
    bool hasVersion = false;
    id.clear();
    while (!attributes.empty()) {
        if (attributes[0] != ' ') return false;
        const std::size_t equals = attributes.find("=\"");
        if (equals == std::string_view::npos) return false;
        const std::string_view attribute = attributes.substr(1, equals - 1);
        const std::size_t close = attributes.find('"', equals + 2);
        if (close == std::string_view::npos) return false;
        const std::string_view value = attributes.substr(equals + 2, close - equals - 2);
        if (!std::all_of(value.begin(), value.end(), isPlainValueCharacter)) return false;
        if (attribute == "Id" && id.empty() && !value.empty()) {
            id = value;
        } else if (attribute == "versao" && !hasVersion) {
            version = value;
            hasVersion = true;
        } else {
            return false;
        }
        attributes.remove_prefix(close + 1);
    }
    if (id.empty() || !hasVersion || !isCanonicalContent(text.substr(tagEnd + 1, end - tagEnd - 1))) return false;

    // Canonical order: the namespace in scope first, then the attributes by name ("Id" < "versao").
    canonical.clear();
    canonical.reserve(end + 64 - tagEnd);
    canonical += "<infNFe xmlns=\"";
    canonical += kNfeNamespace;
    canonical += "\" Id=\"";
    canonical += id;
    canonical += "\" versao=\"";
    canonical += version;
    canonical += "\">";
    canonical += text.substr(tagEnd + 1, end + std::string_view("</infNFe>").size() - tagEnd - 1);
    return true;
}

// Removes a Signature left by an earlier signing, so that signing again replaces it.
void removeSignatures(xmlNode* nfe) {
    while (xmlNode* old = childElement(nfe, "Signature", kDsigNamespace)) {
        xmlUnlinkNode(old);
        xmlFreeNode(old);
    }
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

}  // namespace

NfeSignature signNfeText(std::string_view nfeXml, const LoadedCertificate& signer) {
    checkSigner(signer);
    std::string canonical, id;
    if (canonicalInfNfeAsWritten(nfeXml, canonical, id)) {
        NfeSignature signature;
        signature.digestValue = sha1Base64(canonical);
        const std::string signedInfo = signedInfoElement("#" + id, signature.digestValue);
        // In scope at SignedInfo: only the signature namespace, which Signature declares.
        std::string canonicalSignedInfo = signedInfo;
        canonicalSignedInfo.insert(std::string_view("<SignedInfo").size(),
                                   std::string(" xmlns=\"") + kDsigNamespace + "\"");
        signature.element = signatureElement(
            signedInfo, rsaSha1Base64(canonicalSignedInfo, signer.privateKey()), signer.certificateBase64());
        return signature;
    }
    // Any other form: the parsed tree decides what is canonical, and what the root declares is in scope.
    std::unique_ptr<xmlDoc, DocFree> parsed(xmlReadMemory(nfeXml.data(), static_cast<int>(nfeXml.size()), nullptr,
                                                          "UTF-8", XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!parsed) throw std::runtime_error("O documento a assinar não é um XML bem formado");
    signNfe(parsed.get(), signer);
    xmlNode* node = childElement(nfeElement(parsed.get()), "Signature", kDsigNamespace);
    xmlBuffer* buffer = xmlBufferCreate();
    if (buffer == nullptr || node == nullptr || xmlNodeDump(buffer, parsed.get(), node, 0, 0) < 0) {
        xmlBufferFree(buffer);
        throw std::runtime_error("A assinatura não pôde ser escrita");
    }
    NfeSignature signature{reinterpret_cast<const char*>(xmlBufferContent(buffer)), signatureDigestValue(parsed.get())};
    xmlBufferFree(buffer);
    return signature;
}

bool isInWritersForm(std::string_view nfeXml) {
    std::string canonical, id;
    return canonicalInfNfeAsWritten(nfeXml, canonical, id);
}

void signNfe(xmlDoc* document, const LoadedCertificate& signer) {
    xmlNode* nfe = nfeElement(document);
    if (nfe == nullptr || nfe != xmlDocGetRootElement(document))
        throw std::runtime_error("O documento a assinar não é uma NFC-e (elemento raiz NFe)");
    signElement(document, "NFe", "infNFe", signer);
}

void signElement(xmlDoc* document, const char* rootName, const char* signedName, const LoadedCertificate& signer) {
    xmlNode* root = document != nullptr ? xmlDocGetRootElement(document) : nullptr;
    if (!isElement(root, rootName, kNfeNamespace))
        throw std::runtime_error(std::string("O documento a assinar não tem o elemento raiz ") + rootName);
    xmlNode* signedElement = childElement(root, signedName, kNfeNamespace);
    if (signedElement == nullptr)
        throw std::runtime_error(std::string("O documento a assinar não tem o elemento ") + signedName);
    xmlChar* id = xmlGetProp(signedElement, x("Id"));
    const std::string reference = id != nullptr ? std::string("#") + reinterpret_cast<const char*>(id) : "";
    xmlFree(id);
    if (reference.size() < 2) throw std::runtime_error(std::string("O elemento ") + signedName + " não tem o atributo Id");
    checkSigner(signer);

    removeSignatures(root);
    const std::string digest = sha1Base64(canonicalSubtree(signedElement));
    // Put in place before SignedInfo is canonicalised: its canonical form includes the namespaces in
    // scope there (the root's declarations too), which a verifier sees the same way.
    const std::string element =
        signatureElement(signedInfoElement(reference, digest), "", signer.certificateBase64());
    xmlNode* parsed = nullptr;
    if (xmlParseInNodeContext(root, element.data(), static_cast<int>(element.size()), XML_PARSE_NONET, &parsed) !=
            XML_ERR_OK ||
        parsed == nullptr) {
        xmlFreeNodeList(parsed);
        throw std::runtime_error("Sem memória para a assinatura");
    }
    xmlNode* signature = xmlAddChild(root, parsed);
    if (signature == nullptr) {
        xmlFreeNodeList(parsed);
        throw std::runtime_error("Sem memória para a assinatura");
    }
    try {
        xmlNode* signedInfo = childElement(signature, "SignedInfo", kDsigNamespace);
        const std::string value = rsaSha1Base64(canonicalSubtree(signedInfo), signer.privateKey());
        xmlNodeSetContent(childElement(signature, "SignatureValue", kDsigNamespace), x(value.c_str()));
    } catch (...) {
        xmlUnlinkNode(signature);
        xmlFreeNode(signature);
        throw;
    }
}

std::string signElementText(std::string_view xml, const char* rootName, const char* signedName,
                            const LoadedCertificate& signer) {
    if (xml.substr(0, 5) == "<?xml") {
        const std::size_t end = xml.find("?>");
        xml.remove_prefix(end == std::string_view::npos ? xml.size() : end + 2);
    }
    while (!xml.empty() && (xml.front() == ' ' || xml.front() == '\n' || xml.front() == '\r' || xml.front() == '\t'))
        xml.remove_prefix(1);
    while (!xml.empty() && (xml.back() == ' ' || xml.back() == '\n' || xml.back() == '\r' || xml.back() == '\t'))
        xml.remove_suffix(1);
    std::unique_ptr<xmlDoc, DocFree> parsed(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, "UTF-8",
                                                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!parsed) throw std::runtime_error("O documento a assinar não é um XML bem formado");
    xmlNode* root = xmlDocGetRootElement(parsed.get());
    const bool hadSignature = childElement(root, "Signature", kDsigNamespace) != nullptr;
    signElement(parsed.get(), rootName, signedName, signer);
    const auto dump = [&](xmlNode* node) {
        xmlBuffer* buffer = xmlBufferCreate();
        if (buffer == nullptr || xmlNodeDump(buffer, parsed.get(), node, 0, 0) < 0) {
            xmlBufferFree(buffer);
            throw std::runtime_error("A assinatura não pôde ser escrita");
        }
        std::string text = reinterpret_cast<const char*>(xmlBufferContent(buffer));
        xmlBufferFree(buffer);
        return text;
    };
    // The request as it was written, the Signature before the end tag; a text signed before, or one
    // whose end tag is not where it is looked for, is written out from the tree.
    const std::string endTag = std::string("</") + rootName + ">";
    if (hadSignature || xml.size() < endTag.size() || xml.substr(xml.size() - endTag.size()) != endTag)
        return dump(root);
    std::string out(xml.substr(0, xml.size() - endTag.size()));
    out += dump(childElement(root, "Signature", kDsigNamespace));
    out += endTag;
    return out;
}

std::string signatureDigestValue(xmlDoc* document) {
    xmlNode* node = childElement(nfeElement(document), "Signature", kDsigNamespace);
    for (const char* name : {"SignedInfo", "Reference", "DigestValue"}) node = childElement(node, name, kDsigNamespace);
    if (node == nullptr) return "";
    xmlChar* text = xmlNodeGetContent(node);
    std::string value = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return value;
}

}  // namespace quorvanti::fiscal
