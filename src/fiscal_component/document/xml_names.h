// The XML names of an NF-e and of its signature, and the element tests every reader of them needs.
#pragma once

typedef struct _xmlNode xmlNode;

namespace quorvanti::fiscal {

inline constexpr const char* kNfeNamespace = "http://www.portalfiscal.inf.br/nfe";
inline constexpr const char* kDsigNamespace = "http://www.w3.org/2000/09/xmldsig#";

// The algorithms of the one signature shape the authority accepts.
inline constexpr const char* kC14n = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
inline constexpr const char* kEnveloped = "http://www.w3.org/2000/09/xmldsig#enveloped-signature";
inline constexpr const char* kRsaSha1 = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";
inline constexpr const char* kSha1 = "http://www.w3.org/2000/09/xmldsig#sha1";

// Whether `node` is the element `name` of namespace `ns`.
bool isElement(const xmlNode* node, const char* name, const char* ns);

// The first element child `name` of namespace `ns` (null when absent or `parent` is null).
xmlNode* childElement(xmlNode* parent, const char* name, const char* ns);

}  // namespace quorvanti::fiscal
