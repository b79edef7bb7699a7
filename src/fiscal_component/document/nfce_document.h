// One NFC-e (model 65, layout 4.00) being built group by group, and its XML. Each group operation checks
// and converts its values at once, so a value that cannot be written raises ComponentError naming the
// element while the caller still knows which group it was; a group that raised leaves the document as
// it was. The writer follows the schema's element order and the model-65 rules: no exit date-time, no
// IPI, a recipient only with CPF or CNPJ, the homologation recipient name, contingency data for type 9.
// Decisions where the layout leaves room:
// - text values lose control characters and repeated blanks (the layout's TString type); names,
//   addresses and descriptions longer than the layout allows are cut to its maximum;
// - optional contact values that do not fit the layout (a telephone of 5 digits, a 1-letter name) are
//   left out rather than stopping the sale; an empty GTIN is written "SEM GTIN"; an empty emitter
//   street number is written "S/N";
// - the recipient's address is written only when street, number, district, municipality code, city and
//   state are all usable;
// - ICMS by CSOSN: 102/103/300/400 -> ICMSSN102, 500 -> ICMSSN500 (the retained-ST values are optional
//   in an NFC-e and not written), 101 -> ICMSSN101 with zero credit (the program passes no rate);
// - PIS and COFINS by CST: 01/02 Aliq, 03 Qtde, 04-09 NT, 49-99 Outr (with rate base); the ten values of
//   each tax are read as [0] base, [1] rate, [2] tax value, [3] base quantity, [4] value per unit;
// - indIntermed is written only for the not-in-person presence types that require it;
// - a payment at sight is written without indPag (optional), card payments (03, 04) carry the card
//   group with tpIntegra 2 (not integrated), and change (vTroco) is what the payments exceed vNF by;
// - infRespTec is not written: it needs a contact, e-mail and telephone the configuration lacks, and
//   the schema makes it optional.
// Not thread-safe: one document belongs to one component instance.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fiscal_component/document/access_key.h"
#include "fiscal_component/interface/component_arguments.h"

namespace quorvanti::fiscal {

// What the document takes from the component's configuration.
struct DocumentSettings {
    std::string uf;   // the emitter's state: cUF of the key
    int tpAmb = 2;    // 1 production, 2 homologation
};

class NfceDocument {
public:
    explicit NfceDocument(DocumentSettings settings);

    void identification(const IdentificationArgs& args);
    void emitter(const EmitterArgs& args);
    // Ignored when neither CPF, CNPJ nor a foreigner's identification is given.
    void recipient(const RecipientArgs& args);
    // Opens item `args.nItem`; the ICMS and other-taxes groups and the close apply to the open item.
    void itemProduct(const ItemProductArgs& args);
    void itemIcms(const ItemIcmsArgs& args);
    void itemOtherTaxes(const ItemOtherTaxesArgs& args);
    void itemClose();
    void totals(const TotalsArgs& args);
    void transport(const TransportArgs& args);
    // Adds one payment entry; several calls add several entries.
    void payment(const PaymentArgs& args);
    // infAdic/infCpl; empty text writes no infAdic.
    void additionalInformation(std::string_view text);

    // Raises ComponentError describing what is missing or inconsistent (a group not sent, an item
    // missing or left open, totals that differ from the items, payments below the invoice value).
    void checkComplete() const;

    // The key's fields, without the numeric code. Needs the identification and emitter groups.
    AccessKeyFields keyFields() const;
    // The numeric code the identification group brought (decimal text, possibly shorter than 8).
    const std::string& callerNumericCode() const { return ide_.cNF; }
    int emissionType() const { return ide_.tpEmis; }
    int environment() const { return settings_.tpAmb; }
    const std::string& emissionDateTime() const { return ide_.dhEmi; }
    // vNF as the document writes it; needs the totals group.
    std::string invoiceValueText() const;

    // The whole NFe element for `key` (44 digits; cNF and cDV are taken from it), with
    // `supplement` (an infNFeSupl element, or "") after infNFe. Runs checkComplete first. The text is in
    // the form the signer digests without a parse (see signNfeText): no blanks between elements,
    // explicit end tags, content escaped as canonical XML escapes it.
    std::string write(const std::string& key, std::string_view supplement = {}) const;

private:
    struct Ide {
        bool present = false;
        std::string cNF, natOp, dhEmi, verProc, dhCont, xJust;
        int mod = 65, serie = 0, tpNF = 1, idDest = 1, tpImp = 4, tpEmis = 1, finNFe = 1, indFinal = 1,
            indPres = 1, procEmi = 0, indIntermed = 0;
        std::int64_t nNF = 0;
        std::string cMunFG;
    };
    struct Item {
        int nItem = 0;
        std::string prod, icms, pis, cofins;
        bool closed = false;
        bool countsInTotal = true;
        std::int64_t vProd = 0, vDesc = 0, vFrete = 0, vSeg = 0, vOutro = 0;  // cents
    };
    struct Totals {
        bool present = false;
        std::string xml;
        std::int64_t vProd = 0, vDesc = 0, vFrete = 0, vSeg = 0, vOutro = 0, vNF = 0;
        std::int64_t extraInNF = 0;  // ST, freight, insurance, other, import tax and IPI, in cents
        std::string vNFText;
    };
    struct Payment {
        std::string xml;
        std::int64_t vPag = 0;
    };

    Item& openItem(const char* group);
    void writeIde(std::string& out, const std::string& key) const;

    DocumentSettings settings_;
    Ide ide_;
    std::string emit_, emitCnpj_, emitUf_, dest_, transp_, infAdic_;
    std::vector<Item> items_;
    Totals totals_;
    std::vector<Payment> payments_;
};

}  // namespace quorvanti::fiscal
