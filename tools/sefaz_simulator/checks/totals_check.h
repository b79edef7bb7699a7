// The authority's rules on a document's values, as its validation of the totals (ICMSTot) and the
// payment group applies them: each total equals the sum of the items' values, vNF is composed of them,
// no item is discounted beyond its value, and the payments cover vNF with the change stated rightly.
// Amounts are compared in cents as written (the schema has already fixed their form).
#pragma once

#include <string>

typedef struct _xmlNode xmlNode;

namespace quorvanti::sefaz {

struct TotalsVerdict {
    int cStat = 0;       // 0 when every rule holds
    std::string detail;  // the values compared, for the log
};

// Judges the `infNFe` element of a schema-valid NFe. The first rule broken answers, in this order:
// an item's vDesc above its vProd (880); vProd (564), vDesc (537), vBC (531), vICMS (532), vBCST (533),
// vST (534), vFrete (535), vSeg (536), vII (601), vIPI (538) and vOutro (604) against the items' sums;
// vNF against vProd - vDesc - vICMSDeson + vST + vFCPST + vFrete + vSeg + vOutro + vII + vIPI +
// vIPIDevol (610); the payments below vNF (865); payments above vNF without vTroco (866); vTroco other
// than the payments minus vNF (869). 880 is this stand-in's own code: the published table's code for
// an item discounted beyond its value was not at hand.
TotalsVerdict checkTotals(xmlNode* infNfe);

}  // namespace quorvanti::sefaz
