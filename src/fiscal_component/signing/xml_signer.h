// Enveloped XML signature of an NFC-e's infNFe, as the tax authority requires: RSA-SHA1, inclusive
// C14N, the enveloped-signature transform, Reference URI "#NFe<key>", the signer's certificate in
// KeyInfo/X509Data/X509Certificate; the Signature element becomes the last child of NFe. The same
// profile signs the other requests by the Id of their signed element (infEvento in evento, infInut in
// inutNFe).
#pragma once

#include <string>
#include <string_view>

#include "fiscal_component/certificates/certificate_store.h"

typedef struct _xmlDoc xmlDoc;
typedef struct _xmlNode xmlNode;

namespace quorvanti::fiscal {

// A signature made for an NFe text.
struct NfeSignature {
    std::string element;      // <Signature xmlns="http://www.w3.org/2000/09/xmldsig#">…</Signature>
    std::string digestValue;  // of infNFe; the offline QR code needs it
};

// Signs the infNFe of `nfeXml`, the text of an unsigned document whose root is NFe; the caller puts
// `element` before "</NFe>" (after infNFeSupl, which lies outside the signed element). Text in the
// component writer's form (root start tag exactly <NFe xmlns="http://www.portalfiscal.inf.br/nfe">,
// infNFe with only versao and Id, no blanks between elements, no empty-element tags, at most one
// attribute per element below infNFe, content escaped as canonical XML escapes it: &amp; &lt; &gt;
// &#xD; and nothing else) is already canonical inside infNFe, so it is digested as it stands, without
// a parse; any other text is parsed and canonicalised. Raises CertificateError or std::runtime_error
// with a description on failure.
NfeSignature signNfeText(std::string_view nfeXml, const LoadedCertificate& signer);

// True when `nfeXml` is in the writer's form, which signNfeText digests as it stands.
bool isInWritersForm(std::string_view nfeXml);

// The same on a parsed document: signs the infNFe of `document` (an NFe root element) in place,
// replacing an earlier Signature, which becomes NFe's last child.
void signNfe(xmlDoc* document, const LoadedCertificate& signer);

// The same profile for any request: signs the child `signedName` of the root `rootName` (both in the
// NF-e namespace; for example "evento" and "infEvento", "inutNFe" and "infInut") by its Id attribute,
// replacing an earlier Signature; Signature becomes the root's last child. Raises std::runtime_error
// naming what is missing, CertificateError for a signer without a key.
void signElement(xmlDoc* document, const char* rootName, const char* signedName, const LoadedCertificate& signer);

// The same on a document's text (an XML declaration before it is dropped): answers the root element's
// text with the Signature put before its end tag, the rest kept byte for byte.
std::string signElementText(std::string_view xml, const char* rootName, const char* signedName,
                            const LoadedCertificate& signer);

// Inclusive C14N 1.0 without comments of `element`'s subtree as a same-document reference ("#id")
// selects it, namespaces in scope included: the bytes the signature digests.
std::string canonicalSubtree(xmlNode* element);

// The DigestValue text of the document's signature ("" when unsigned).
std::string signatureDigestValue(xmlDoc* document);

}  // namespace quorvanti::fiscal
