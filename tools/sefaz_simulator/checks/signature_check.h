// The authority's check of an enveloped XML signature, as it checks those of an NFC-e (infNFe), of a
// fiscal event (infEvento) and of a voiding request (infInut): the one shape the standard admits (C14N
// 1.0, RSA-SHA1, one Reference to "#" + the signed element's Id with the enveloped-signature and C14N
// transforms, SHA-1 digest), the signer's certificate in KeyInfo (readable, valid at the time of
// receipt, issued by a trusted authority when one is configured), the digest and the signature value.
// Each failure is answered with the authority's status code. Thread-safe after construction.
#pragma once

#include <ctime>
#include <string>

typedef struct _xmlNode xmlNode;
typedef struct x509_store_st X509_STORE;

namespace quorvanti::sefaz {

struct SignatureVerdict {
    int cStat = 0;             // 0 when the signature holds; else 290, 291, 293, 297 or 298
    std::string detail;        // what failed, for the log
    std::string digestValue;   // the signature's DigestValue (the protocol's digVal), "" when absent
    std::string signerCnpj;    // the CNPJ the signer's certificate carries, "" when none
};

class SignatureChecker {
public:
    // `trustedAuthorities`: a PEM file of the certificates a signer must chain to; "" accepts any
    // certificate whose signature verifies. Raises std::runtime_error when the file cannot be read.
    explicit SignatureChecker(const std::string& trustedAuthorities = "");
    ~SignatureChecker();
    SignatureChecker(const SignatureChecker&) = delete;
    SignatureChecker& operator=(const SignatureChecker&) = delete;

    // Checks the signature of `signedElement` (infNFe, infEvento, infInut) at the time `now`: the
    // Signature is the last element of its parent (NFe, evento, inutNFe), the signed element's sibling.
    // A null element is answered 298.
    SignatureVerdict check(xmlNode* signedElement, std::time_t now) const;

private:
    X509_STORE* trusted_ = nullptr;
};

}  // namespace quorvanti::sefaz
