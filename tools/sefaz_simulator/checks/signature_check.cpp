#include "sefaz_simulator/checks/signature_check.h"

#include "fiscal_component/certificates/certificate_store.h"

#include <libxml/tree.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <stdexcept>
#include <vector>

#include "fiscal_component/signing/xml_signer.h"
#include "sefaz_simulator/messages/xml_util.h"

namespace quorvanti::sefaz {

namespace {

using fiscal::kC14n;
using fiscal::kEnveloped;
using fiscal::kRsaSha1;
using fiscal::kSha1;

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct StoreContextFree {
    void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};
struct MdContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::string withoutBlanks(const std::string& text) {
    std::string out;
    for (const char c : text)
        if (!std::isspace(static_cast<unsigned char>(c))) out += c;
    return out;
}

// Base64 without blanks to bytes; false for text that is not base64.
bool decodeBase64(const std::string& text, std::vector<unsigned char>& bytes) {
    const std::string clean = withoutBlanks(text);
    if (clean.empty() || clean.size() % 4 != 0) return false;
    bytes.resize(clean.size() / 4 * 3);
    const int length = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(clean.data()),
                                       static_cast<int>(clean.size()));
    if (length < 0) return false;
    std::size_t padding = 0;
    if (clean.back() == '=') ++padding;
    if (clean.size() > 1 && clean[clean.size() - 2] == '=') ++padding;
    bytes.resize(static_cast<std::size_t>(length) - padding);
    return true;
}

std::string encodeBase64(const unsigned char* bytes, std::size_t length) {
    std::string text(4 * ((length + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes, static_cast<int>(length));
    text.resize(static_cast<std::size_t>(written));
    return text;
}

bool algorithmIs(xmlNode* element, const char* algorithm) {
    return element != nullptr && attributeOf(element, "Algorithm") == algorithm;
}

SignatureVerdict refused(int cStat, std::string detail, SignatureVerdict verdict = {}) {
    verdict.cStat = cStat;
    verdict.detail = std::move(detail);
    return verdict;
}

}  // namespace

SignatureChecker::SignatureChecker(const std::string& trustedAuthorities) {
    if (trustedAuthorities.empty()) return;
    trusted_ = X509_STORE_new();
    if (trusted_ == nullptr || X509_STORE_load_file(trusted_, trustedAuthorities.c_str()) != 1) {
        X509_STORE_free(trusted_);
        trusted_ = nullptr;
        throw std::runtime_error("não foi possível ler as autoridades confiáveis em " + trustedAuthorities);
    }
}

SignatureChecker::~SignatureChecker() { X509_STORE_free(trusted_); }

SignatureVerdict SignatureChecker::check(xmlNode* signedElement, std::time_t now) const {
    // A refused certificate or signature leaves OpenSSL errors queued on this thread; none may leak
    // into the next request the thread serves.
    struct ClearErrors {
        ~ClearErrors() { ERR_clear_error(); }
    } clearErrors;
    xmlNode* parent = signedElement != nullptr ? signedElement->parent : nullptr;
    xmlNode* signature = lastElement(parent);
    if (parent == nullptr || parent->type != XML_ELEMENT_NODE || !isElement(signature, "Signature", kDsigNamespace))
        return refused(298, "sem Signature como último elemento");

    // The one shape of signature the standard admits.
    xmlNode* signedInfo = childElement(signature, "SignedInfo", kDsigNamespace);
    const std::vector<xmlNode*> references = childElements(signedInfo, "Reference", kDsigNamespace);
    xmlNode* reference = references.size() == 1 ? references.front() : nullptr;
    xmlNode* transforms = childElement(reference, "Transforms", kDsigNamespace);
    const std::vector<xmlNode*> transformList = childElements(transforms, "Transform", kDsigNamespace);
    const std::string id = attributeOf(signedElement, "Id");
    if (!algorithmIs(childElement(signedInfo, "CanonicalizationMethod", kDsigNamespace), kC14n) ||
        !algorithmIs(childElement(signedInfo, "SignatureMethod", kDsigNamespace), kRsaSha1) || reference == nullptr ||
        id.empty() || attributeOf(reference, "URI") != "#" + id || transformList.size() != 2 ||
        !algorithmIs(transformList[0], kEnveloped) || !algorithmIs(transformList[1], kC14n) ||
        !algorithmIs(childElement(reference, "DigestMethod", kDsigNamespace), kSha1))
        return refused(298, "algoritmos, transformações ou referência fora do padrão (URI esperada #" + id + ")");

    SignatureVerdict verdict;
    verdict.digestValue = withoutBlanks(textOf(childElement(reference, "DigestValue", kDsigNamespace)));

    xmlNode* x509Data = childElement(childElement(signature, "KeyInfo", kDsigNamespace), "X509Data", kDsigNamespace);
    std::vector<unsigned char> der;
    if (!decodeBase64(textOf(childElement(x509Data, "X509Certificate", kDsigNamespace)), der))
        return refused(290, "KeyInfo sem X509Certificate em base64", verdict);
    const unsigned char* cursor = der.data();
    std::unique_ptr<X509, X509Free> certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (!certificate) return refused(290, "X509Certificate não é um certificado X.509", verdict);
    verdict.signerCnpj = fiscal::certificateCnpj(certificate.get());

    std::time_t at = now;
    if (X509_cmp_time(X509_get0_notBefore(certificate.get()), &at) >= 0 ||
        X509_cmp_time(X509_get0_notAfter(certificate.get()), &at) <= 0)
        return refused(291, "certificado do signatário fora da validade na hora do recebimento", verdict);

    if (trusted_ != nullptr) {
        std::unique_ptr<X509_STORE_CTX, StoreContextFree> context(X509_STORE_CTX_new());
        if (!context || X509_STORE_CTX_init(context.get(), trusted_, certificate.get(), nullptr) != 1)
            return refused(293, "sem memória para verificar a cadeia", verdict);
        X509_STORE_CTX_set_time(context.get(), 0, now);
        if (X509_verify_cert(context.get()) != 1)
            return refused(293, std::string("cadeia do certificado: ") +
                                    X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get())),
                           verdict);
    }

    // The digest of the signed element: the enveloped-signature transform removes nothing, since
    // Signature is its sibling.
    const std::string canonicalSigned = fiscal::canonicalSubtree(signedElement);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(canonicalSigned.data(), canonicalSigned.size(), digest, &digestLength, EVP_sha1(), nullptr) != 1)
        return refused(297, "falha ao calcular o resumo SHA-1", verdict);
    if (encodeBase64(digest, digestLength) != verdict.digestValue)
        return refused(297, "DigestValue difere do resumo do elemento assinado", verdict);

    std::vector<unsigned char> value;
    if (!decodeBase64(textOf(childElement(signature, "SignatureValue", kDsigNamespace)), value))
        return refused(297, "SignatureValue não está em base64", verdict);
    const std::string canonicalSignedInfo = fiscal::canonicalSubtree(signedInfo);
    std::unique_ptr<EVP_MD_CTX, MdContextFree> context(EVP_MD_CTX_new());
    EVP_PKEY* publicKey = X509_get0_pubkey(certificate.get());
    const bool verified =
        context && publicKey != nullptr &&
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha1(), nullptr, publicKey) == 1 &&
        EVP_DigestVerify(context.get(), value.data(), value.size(),
                         reinterpret_cast<const unsigned char*>(canonicalSignedInfo.data()), canonicalSignedInfo.size()) == 1;
    if (!verified) return refused(297, "SignatureValue não confere com SignedInfo e a chave do certificado", verdict);
    return verdict;
}

}  // namespace quorvanti::sefaz
