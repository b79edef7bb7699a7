// Enveloped XML signature of an NFC-e's infNFe, as the tax authority requires: RSA-SHA1, inclusive
// C14N, the enveloped-signature transform, Reference URI "#NFe<key>", the signer's certificate in
// KeyInfo/X509Data/X509Certificate; the Signature element becomes the last child of NFe.
#pragma once

#include <string>

#include "fiscal_component/certificate_store.h"

typedef struct _xmlDoc xmlDoc;
typedef struct _xmlNode xmlNode;

namespace quorvanti::fiscal {

// Signs the infNFe of `document` (an NFe root element) in place, appending Signature as NFe's last
// child. infNFeSupl lies outside the signed element, so it may be inserted before Signature afterwards
// (the offline QR code needs the DigestValue first). Raises CertificateError or std::runtime_error with
// a description on failure.
void signNfe(xmlDoc* document, const LoadedCertificate& signer);

// Inclusive C14N 1.0 without comments of `element`'s subtree as a same-document reference ("#id")
// selects it, namespaces in scope included: the bytes the signature digests.
std::string canonicalSubtree(xmlNode* element);

// The DigestValue text of the document's signature ("" when unsigned).
std::string signatureDigestValue(xmlDoc* document);

}  // namespace quorvanti::fiscal
