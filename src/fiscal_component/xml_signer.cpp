// The signature is made with OpenSSL over canonical bytes written here, rather than with libxmlsec: the
// NFC-e admits exactly one signature shape (one Reference to infNFe, fixed algorithms), so xmlsec's
// general machinery buys nothing, while it would cost a global initialisation with its own locking, a
// key copy into xmlsec's key objects and a template and context per document, and it leaves
// library-global state behind at exit. The per-document work beyond the RSA operation is two
// canonicalisations and a few small nodes. Correctness is held against the real xmlsec1 verifier and
// against libxml2's canonicaliser in the tests.
#include "fiscal_component/xml_signer.h"

#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include <openssl/err.h>
#include <openssl/evp.h>

namespace quorvanti::fiscal {

namespace {

constexpr const char* kNfeNamespace = "http://www.portalfiscal.inf.br/nfe";
constexpr const char* kDsigNamespace = "http://www.w3.org/2000/09/xmldsig#";
constexpr const char* kC14n = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
constexpr const char* kEnveloped = "http://www.w3.org/2000/09/xmldsig#enveloped-signature";
constexpr const char* kRsaSha1 = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";
constexpr const char* kSha1 = "http://www.w3.org/2000/09/xmldsig#sha1";

const xmlChar* x(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

bool isElement(const xmlNode* node, const char* name, const char* nsHref) {
    return node != nullptr && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, x(name)) &&
           node->ns != nullptr && xmlStrEqual(node->ns->href, x(nsHref));
}

xmlNode* childElement(xmlNode* parent, const char* name, const char* nsHref) {
    if (parent == nullptr) return nullptr;
    for (xmlNode* child = parent->children; child != nullptr; child = child->next) {
        if (isElement(child, name, nsHref)) return child;
    }
    return nullptr;
}

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

std::string digestOf(xmlNode* element) {
    const std::string canonical = canonicalSubtree(element);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(canonical.data(), canonical.size(), digest, &length, sha1(), nullptr) != 1)
        throw std::runtime_error(openSslFailure("Falha no resumo SHA-1"));
    return base64(digest, length);
}

std::string signatureOf(xmlNode* signedInfo, EVP_PKEY* key) {
    const std::string canonical = canonicalSubtree(signedInfo);
    MdContext context = newMdContext();
    if (EVP_DigestSignInit(context.get(), nullptr, sha1(), nullptr, key) != 1)
        throw CertificateError(openSslFailure("A chave do certificado não serve para assinar com RSA-SHA1"));
    std::size_t length = 0;
    if (EVP_DigestSign(context.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(canonical.data()),
                       canonical.size()) != 1)
        throw std::runtime_error(openSslFailure("Falha ao assinar o documento"));
    std::vector<unsigned char> value(length);
    if (EVP_DigestSign(context.get(), value.data(), &length, reinterpret_cast<const unsigned char*>(canonical.data()),
                       canonical.size()) != 1)
        throw std::runtime_error(openSslFailure("Falha ao assinar o documento"));
    return base64(value.data(), length);
}

xmlNode* addElement(xmlNode* parent, xmlNs* ns, const char* name, const std::string& text = "") {
    // Raw text nodes: the values (base64, URIs) are not markup and must not be parsed as such.
    xmlNode* element = xmlNewDocRawNode(parent->doc, ns, x(name), text.empty() ? nullptr : x(text.c_str()));
    if (element == nullptr || xmlAddChild(parent, element) == nullptr) throw std::runtime_error("Sem memória para a assinatura");
    return element;
}

void addAlgorithm(xmlNode* parent, xmlNs* ns, const char* name, const char* algorithm) {
    xmlNewProp(addElement(parent, ns, name), x("Algorithm"), x(algorithm));
}

// Removes a Signature left by an earlier signing, so that signing again replaces it.
void removeSignatures(xmlNode* nfe) {
    while (xmlNode* old = childElement(nfe, "Signature", kDsigNamespace)) {
        xmlUnlinkNode(old);
        xmlFreeNode(old);
    }
}

struct NodeFree {
    void operator()(xmlNode* node) const {
        xmlUnlinkNode(node);
        xmlFreeNode(node);
    }
};

}  // namespace

void signNfe(xmlDoc* document, const LoadedCertificate& signer) {
    xmlNode* nfe = nfeElement(document);
    if (nfe == nullptr || nfe != xmlDocGetRootElement(document))
        throw std::runtime_error("O documento a assinar não é uma NFC-e (elemento raiz NFe)");
    xmlNode* infNfe = childElement(nfe, "infNFe", kNfeNamespace);
    if (infNfe == nullptr) throw std::runtime_error("O documento a assinar não tem o elemento infNFe");
    xmlChar* id = xmlGetProp(infNfe, x("Id"));
    const std::string reference = id != nullptr ? std::string("#") + reinterpret_cast<const char*>(id) : "";
    xmlFree(id);
    if (reference.size() < 2) throw std::runtime_error("O elemento infNFe não tem o atributo Id");
    if (signer.privateKey() == nullptr || signer.certificateBase64().empty())
        throw CertificateError("O certificado " + signer.info().file + " não tem chave para assinar");

    removeSignatures(nfe);
    const std::string digest = digestOf(infNfe);

    // Built in place, before SignedInfo is canonicalised: its canonical form includes the namespace
    // context it sits in, which a verifier sees the same way.
    std::unique_ptr<xmlNode, NodeFree> signature(xmlNewDocNode(document, nullptr, x("Signature"), nullptr));
    if (!signature || xmlAddChild(nfe, signature.get()) == nullptr) throw std::runtime_error("Sem memória para a assinatura");
    xmlNs* ds = xmlNewNs(signature.get(), x(kDsigNamespace), nullptr);
    xmlSetNs(signature.get(), ds);

    xmlNode* signedInfo = addElement(signature.get(), ds, "SignedInfo");
    addAlgorithm(signedInfo, ds, "CanonicalizationMethod", kC14n);
    addAlgorithm(signedInfo, ds, "SignatureMethod", kRsaSha1);
    xmlNode* referenceNode = addElement(signedInfo, ds, "Reference");
    xmlNewProp(referenceNode, x("URI"), x(reference.c_str()));
    xmlNode* transforms = addElement(referenceNode, ds, "Transforms");
    addAlgorithm(transforms, ds, "Transform", kEnveloped);
    addAlgorithm(transforms, ds, "Transform", kC14n);
    addAlgorithm(referenceNode, ds, "DigestMethod", kSha1);
    addElement(referenceNode, ds, "DigestValue", digest);

    const std::string signatureValue = signatureOf(signedInfo, signer.privateKey());
    addElement(signature.get(), ds, "SignatureValue", signatureValue);
    xmlNode* keyInfo = addElement(signature.get(), ds, "KeyInfo");
    xmlNode* x509Data = addElement(keyInfo, ds, "X509Data");
    addElement(x509Data, ds, "X509Certificate", signer.certificateBase64());
    signature.release();
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
