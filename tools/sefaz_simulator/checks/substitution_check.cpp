#include "sefaz_simulator/checks/substitution_check.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

#include "sefaz_simulator/messages/date_time.h"
#include "sefaz_simulator/messages/xml_util.h"

namespace quorvanti::sefaz {

namespace {

constexpr long kContingencyWindowSeconds = 2 * 3600;

xmlNode* child(xmlNode* parent, const char* name) { return childElement(parent, name, kNfeNamespace); }

// Amounts in cents: the layout writes "10", "10.0" and "10.00" alike.
long long cents(const std::string& amount) { return std::llround(std::strtod(amount.c_str(), nullptr) * 100); }

// Who the document names as recipient: "CPF 123...", "CNPJ 456...", "idEstrangeiro X", or "" for none.
std::string recipient(xmlNode* infNfe) {
    xmlNode* dest = child(infNfe, "dest");
    for (const char* name : {"CPF", "CNPJ", "idEstrangeiro"}) {
        if (xmlNode* id = child(dest, name)) return std::string(name) + " " + textOf(id);
    }
    return "";
}

std::string total(xmlNode* infNfe, const char* name) {
    return childText(child(child(infNfe, "total"), "ICMSTot"), name);
}

SubstitutionVerdict failed(int cStat, std::string detail) { return SubstitutionVerdict{cStat, std::move(detail)}; }

}  // namespace

SubstitutionVerdict checkSubstitution(xmlNode* cancelled, xmlNode* substitute) {
    xmlNode* ideCancelled = child(cancelled, "ide");
    xmlNode* ideSubstitute = child(substitute, "ide");
    if (childText(ideCancelled, "tpEmis") != "1")
        return failed(881, "tpEmis da NFC-e cancelada " + childText(ideCancelled, "tpEmis"));
    if (childText(ideSubstitute, "tpEmis") != "9")
        return failed(883, "tpEmis da substituta " + childText(ideSubstitute, "tpEmis"));

    const std::string dhCancelled = childText(ideCancelled, "dhEmi");
    const std::string dhSubstitute = childText(ideSubstitute, "dhEmi");
    std::time_t emittedCancelled = 0;
    std::time_t emittedSubstitute = 0;
    if (!parseDateTime(dhCancelled, emittedCancelled) || !parseDateTime(dhSubstitute, emittedSubstitute) ||
        emittedSubstitute < emittedCancelled || emittedSubstitute - emittedCancelled > kContingencyWindowSeconds)
        return failed(884, "dhEmi " + dhCancelled + " e da substituta " + dhSubstitute);

    if (recipient(cancelled) != recipient(substitute))
        return failed(885, "destinatário \"" + recipient(cancelled) + "\", da substituta \"" + recipient(substitute) +
                               "\"");
    if (cents(total(cancelled, "vNF")) != cents(total(substitute, "vNF")))
        return failed(886, "vNF " + total(cancelled, "vNF") + ", da substituta " + total(substitute, "vNF"));
    if (cents(total(cancelled, "vICMS")) != cents(total(substitute, "vICMS")))
        return failed(887, "vICMS " + total(cancelled, "vICMS") + ", da substituta " + total(substitute, "vICMS"));

    xmlNode* firstCancelled = child(child(cancelled, "det"), "prod");
    xmlNode* firstSubstitute = child(child(substitute, "det"), "prod");
    if (childText(firstCancelled, "cProd") != childText(firstSubstitute, "cProd") ||
        cents(childText(firstCancelled, "vProd")) != cents(childText(firstSubstitute, "vProd")))
        return failed(888, "primeiro item " + childText(firstCancelled, "cProd") + " " +
                               childText(firstCancelled, "vProd") + ", da substituta " +
                               childText(firstSubstitute, "cProd") + " " + childText(firstSubstitute, "vProd"));
    return {};
}

}  // namespace quorvanti::sefaz
