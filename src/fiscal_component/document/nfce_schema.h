// The project's own schema of the NFC-e, written from the published layout 4.00 for model 65, used
// when the schema folder holds no official package. It covers every element the component writes;
// the signature is checked by a second, minimal XML-DSig schema (the subset the authority requires),
// since one schema document has one target namespace.
#pragma once

#include <string_view>

namespace quorvanti::fiscal {

// The NFe element (namespace http://www.portalfiscal.inf.br/nfe); its Signature is skipped here.
std::string_view ownNfeSchema();

// The Signature element (namespace http://www.w3.org/2000/09/xmldsig#) as an NFC-e carries it.
std::string_view ownSignatureSchema();

}  // namespace quorvanti::fiscal
