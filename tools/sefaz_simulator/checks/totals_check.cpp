#include "sefaz_simulator/checks/totals_check.h"

#include <cstdint>
#include <cstdio>

#include "sefaz_simulator/messages/xml_util.h"

namespace quorvanti::sefaz {

namespace {

// "12.3" or "12.34" (or "12") in cents; absent = 0.
std::int64_t cents(const std::string& text) {
    std::int64_t whole = 0, fraction = 0;
    std::size_t at = 0;
    for (; at < text.size() && text[at] != '.'; ++at) whole = whole * 10 + (text[at] - '0');
    int decimals = 0;
    for (++at; at < text.size() && decimals < 2; ++at, ++decimals) fraction = fraction * 10 + (text[at] - '0');
    for (; decimals < 2; ++decimals) fraction *= 10;
    return whole * 100 + fraction;
}

std::string money(std::int64_t value) {
    const long long magnitude = value < 0 ? -value : value;
    char out[32];
    std::snprintf(out, sizeof out, "%s%lld.%02lld", value < 0 ? "-" : "", magnitude / 100, magnitude % 100);
    return out;
}

// The child `name` of whichever group stands below `parent` (ICMS00, ICMSSN102 ...).
std::string groupedText(xmlNode* parent, const char* name) {
    return childText(firstElement(parent), name);
}

struct ItemSums {
    std::int64_t vProd = 0, vDesc = 0, vBC = 0, vICMS = 0, vBCST = 0, vST = 0, vFrete = 0, vSeg = 0, vII = 0, vIPI = 0,
                 vOutro = 0;
};

}  // namespace

TotalsVerdict checkTotals(xmlNode* infNfe) {
    TotalsVerdict verdict;
    const auto refuse = [&](int cStat, std::string detail) {
        verdict.cStat = cStat;
        verdict.detail = std::move(detail);
        return verdict;
    };

    ItemSums items;
    for (xmlNode* det : childElements(infNfe, "det", kNfeNamespace)) {
        xmlNode* prod = childElement(det, "prod", kNfeNamespace);
        xmlNode* tax = childElement(det, "imposto", kNfeNamespace);
        xmlNode* icms = childElement(tax, "ICMS", kNfeNamespace);
        const std::int64_t vProd = cents(childText(prod, "vProd"));
        const std::int64_t vDesc = cents(childText(prod, "vDesc"));
        if (vDesc > vProd)
            return refuse(880, "item " + attributeOf(det, "nItem") + ": vDesc " + money(vDesc) + ", vProd " + money(vProd));
        if (childText(prod, "indTot") == "1") items.vProd += vProd;
        items.vDesc += vDesc;
        items.vFrete += cents(childText(prod, "vFrete"));
        items.vSeg += cents(childText(prod, "vSeg"));
        items.vOutro += cents(childText(prod, "vOutro"));
        items.vBC += cents(groupedText(icms, "vBC"));
        items.vICMS += cents(groupedText(icms, "vICMS"));
        items.vBCST += cents(groupedText(icms, "vBCST"));
        items.vST += cents(groupedText(icms, "vICMSST"));
        items.vII += cents(childText(childElement(tax, "II", kNfeNamespace), "vII"));
        items.vIPI += cents(childText(childElement(childElement(tax, "IPI", kNfeNamespace), "IPITrib", kNfeNamespace), "vIPI"));
    }

    xmlNode* total = childElement(childElement(infNfe, "total", kNfeNamespace), "ICMSTot", kNfeNamespace);
    const auto totalOf = [&](const char* name) { return cents(childText(total, name)); };
    const struct {
        const char* name;
        std::int64_t ItemSums::*sum;
        int cStat;
    } sums[] = {
        {"vProd", &ItemSums::vProd, 564}, {"vDesc", &ItemSums::vDesc, 537}, {"vBC", &ItemSums::vBC, 531},
        {"vICMS", &ItemSums::vICMS, 532}, {"vBCST", &ItemSums::vBCST, 533}, {"vST", &ItemSums::vST, 534},
        {"vFrete", &ItemSums::vFrete, 535}, {"vSeg", &ItemSums::vSeg, 536}, {"vII", &ItemSums::vII, 601},
        {"vIPI", &ItemSums::vIPI, 538},   {"vOutro", &ItemSums::vOutro, 604},
    };
    for (const auto& rule : sums) {
        if (totalOf(rule.name) != items.*rule.sum)
            return refuse(rule.cStat, std::string(rule.name) + " " + money(totalOf(rule.name)) + ", soma dos itens " +
                                          money(items.*rule.sum));
    }

    const std::int64_t vNF = totalOf("vNF");
    const std::int64_t composed = totalOf("vProd") - totalOf("vDesc") - totalOf("vICMSDeson") + totalOf("vST") +
                                  totalOf("vFCPST") + totalOf("vFrete") + totalOf("vSeg") + totalOf("vOutro") +
                                  totalOf("vII") + totalOf("vIPI") + totalOf("vIPIDevol");
    if (vNF != composed) return refuse(610, "vNF " + money(vNF) + ", composto " + money(composed));

    xmlNode* pag = childElement(infNfe, "pag", kNfeNamespace);
    std::int64_t paid = 0;
    for (xmlNode* detPag : childElements(pag, "detPag", kNfeNamespace)) paid += cents(childText(detPag, "vPag"));
    if (paid < vNF) return refuse(865, "pagamentos " + money(paid) + ", vNF " + money(vNF));
    xmlNode* changeElement = childElement(pag, "vTroco", kNfeNamespace);
    if (paid > vNF && changeElement == nullptr)
        return refuse(866, "pagamentos " + money(paid) + ", vNF " + money(vNF) + ", sem vTroco");
    const std::int64_t change = cents(textOf(changeElement));
    if (change != paid - vNF)
        return refuse(869, "vTroco " + money(change) + ", pagamentos " + money(paid) + " - vNF " + money(vNF));
    return verdict;
}

}  // namespace quorvanti::sefaz
