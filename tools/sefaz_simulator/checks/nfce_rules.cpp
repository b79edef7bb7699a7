#include "sefaz_simulator/checks/nfce_rules.h"

#include <ctime>

#include "sefaz_simulator/messages/date_time.h"
#include "sefaz_simulator/messages/xml_util.h"

namespace quorvanti::sefaz {

NfceRulesVerdict checkNfceRules(xmlNode* infNfe) {
    xmlNode* ide = childElement(infNfe, "ide", kNfeNamespace);
    const auto field = [&](const char* name) { return childText(ide, name); };
    const auto broken = [&](const char* name, const std::string& rule) {
        return NfceRulesVerdict{892, std::string(name) + " " + field(name) + ": " + rule};
    };
    const auto oneOf = [&](const char* name, std::initializer_list<const char*> allowed) {
        for (const char* value : allowed)
            if (field(name) == value) return true;
        return false;
    };
    if (field("mod") != "65") return broken("mod", "o serviço é o da NFC-e (65)");
    if (!oneOf("tpEmis", {"1", "9"}))
        return broken("tpEmis", "NFC-e é emitida normalmente (1) ou em contingência off-line (9)");
    if (field("indFinal") != "1") return broken("indFinal", "NFC-e é de consumidor final (1)");
    if (!oneOf("indPres", {"1", "4"})) return broken("indPres", "NFC-e é presencial (1) ou com entrega a domicílio (4)");
    if (!oneOf("tpImp", {"4", "5"})) return broken("tpImp", "o DANFE da NFC-e é 4 ou 5");
    if (childElement(ide, "dhSaiEnt", kNfeNamespace) != nullptr)
        return broken("dhSaiEnt", "NFC-e não tem data de saída");
    if (std::stoll("0" + field("cNF")) == std::stoll("0" + field("nNF"))) return broken("cNF", "igual ao número da nota");
    if (field("tpEmis") == "9") {
        std::time_t entered = 0, emitted = 0;
        if (field("xJust").empty() || !parseDateTime(field("dhCont"), entered))
            return broken("dhCont", "contingência sem entrada (dhCont) ou justificativa (xJust)");
        if (parseDateTime(field("dhEmi"), emitted) && entered > emitted)
            return broken("dhCont", "entrada em contingência depois da emissão " + field("dhEmi"));
    }
    return {};
}

}  // namespace quorvanti::sefaz
