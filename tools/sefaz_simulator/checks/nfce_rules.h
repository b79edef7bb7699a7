// The rules of model 65 that the NF-e schema, shared with model 55, leaves open: what an NFC-e must be
// (to a final consumer, in person or delivered, printed as a DANFE NFC-e) and what its contingency
// needs. The authority refuses a document that breaks one; so does this stand-in, so that a change of
// the program's fixed values cannot pass the tests.
#pragma once

#include <string>

typedef struct _xmlNode xmlNode;

namespace quorvanti::sefaz {

struct NfceRulesVerdict {
    int cStat = 0;       // 0 when every rule holds, else 892
    std::string detail;  // the field and its value
};

// Judges the `infNFe` element of a schema-valid NFe: mod 65, tpEmis 1 or 9, indFinal 1, indPres 1 or 4,
// tpImp 4 or 5, no dhSaiEnt, cNF other than nNF, and with tpEmis 9 both dhCont (not after dhEmi) and
// xJust. 892 is this stand-in's own code for all of them.
NfceRulesVerdict checkNfceRules(xmlNode* infNfe);

}  // namespace quorvanti::sefaz
