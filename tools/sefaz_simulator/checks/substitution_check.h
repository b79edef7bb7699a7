// The conditions of a cancellation by substitution (event 110112) that compare the two NFC-e: the one
// cancelled was emitted normally (tpEmis 1), its substitute in offline contingency (tpEmis 9) within
// two hours after it, for the same recipient (dest's CPF, CNPJ or foreign id, or none in both), the
// same vNF, the same total vICMS and the same first item (cProd and vProd). The authority's other
// conditions (both authorised, same emitter, the 168-hour limit) need its records and are its own.
#pragma once

#include <string>

typedef struct _xmlNode xmlNode;

namespace quorvanti::sefaz {

struct SubstitutionVerdict {
    int cStat = 0;       // 0 when every condition holds; else the first failed, in the order above:
                         // 881, 883, 884, 885, 886, 887, 888 (this stand-in's own codes)
    std::string detail;  // the values compared, for the log
};

// `cancelled` and `substitute`: the infNFe of the two authorised documents.
SubstitutionVerdict checkSubstitution(xmlNode* cancelled, xmlNode* substitute);

}  // namespace quorvanti::sefaz
