#include "document/groups/item_group.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "context/program_files.h"
#include "database/sql_escape.h"
#include "document/groups/group_failure.h"
#include "document/groups/identification_group.h"
#include "document/text/text_helpers.h"
#include "document/text/vb_conversions.h"
#include "fiscal_component/document/nfce_format.h"

namespace quorvanti::document {

namespace {

// The authority requires this description on the items of a homologation NFC-e.
constexpr const char* kHomologationDescription = "NOTA FISCAL EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR FISCAL";
// The placeholder NCM the point-of-sale program gives products nobody classified.
constexpr const char* kPlaceholderNcm = "01012011";

struct TaxClassification {
    std::int32_t cfop = 5102;
    std::string csosn = "102";
};

void removeSaleFromQueue(context::AppContext& ctx) {
    ctx.db->execute("delete from TabNCEAEnviar where Codvenda = '" +
                    database::sqlEscape(ctx.db->kind(), ctx.emission.SaleCode) + "'");
}

// The item's description for the document: the catalogue's name cleaned and fitted to the layout. A
// run of blanks never stops the sale: LimpaTexto only halves runs once (and turns "<", ">" and "'" into
// more blanks), fitting collapses each run to one blank and trims. A name left empty (blanks, emoji) is
// replaced by one naming the product.
std::string itemDescription(const context::AppContext& ctx, const database::Recordset& rows, const std::string& code) {
    if (ctx.settings.Environment == "2") return kHomologationDescription;
    const std::string description = fitToLayout(LimpaTexto(rows.field("discriminacao").text()));
    return description.empty() ? "PRODUTO " + code : description;
}

// The NCM as the document carries it (BuscaNCM has taken the separators out before cutting it).
std::string itemNcm(context::AppContext& ctx, const std::string& code) { return LimpaTexto(BuscaNCM(ctx, code)); }

// CFOP and CSOSN of a Simples Nacional emitter: the product's CFOP when it is four digits once "." and
// "," are taken out ("5.405" included), 5102 otherwise (empty, short, or with a letter such as "54O5");
// CSOSN 500 (ICMS charged before by substitution) for 5405 and 5656, 102 for the rest.
TaxClassification classify(context::AppContext& ctx, const std::string& cfop) {
    const std::string cleaned = RetiraCaracteres(cfop, ".,", true);
    const bool fourDigits = cleaned.size() == 4 && cleaned.find_first_not_of("0123456789") == std::string::npos;
    ctx.status("CFOP - dados");
    TaxClassification result;
    if (!fourDigits) return result;
    result.cfop = componentInteger(cleaned);
    if (result.cfop == 5405 || result.cfop == 5656) result.csosn = "500";
    return result;
}

// An amount of the item row as the document can carry it: present, a number and not negative at the
// four decimals of a quantity. Anything else stops the sale, naming the column and its value.
double itemAmount(const database::Recordset& rows, const char* column) {
    const database::DbValue& value = rows.field(column);
    const std::string field = std::string("campo ") + column;
    if (value.isNull()) throw std::invalid_argument(field + " vazio (NULL)");
    double number = 0;
    try {
        number = value.number();
    } catch (const std::exception&) {
        throw std::invalid_argument(field + " \"" + value.text() + "\" não é um número");
    }
    if (!std::isfinite(number)) throw std::invalid_argument(field + " \"" + value.text() + "\" não é um número");
    if (std::round(number * 10000.0) < 0) throw std::invalid_argument(field + " \"" + value.text() + "\" negativo");
    return number;
}

// An amount in cents, rounded as the document writes it. The items' values and discounts are rounded
// here, once, so that the totals are the sums of what the items carry: weighed goods leave 3 or 4
// decimals in the sale's rows, and sums rounded apart from their items make a document the authority
// refuses (and the sale would never leave the queue).
double inCents(double value) { return static_cast<double>(fiscal::roundToUnits(value, 2)) / 100.0; }

std::string centsText(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string out = text;
    for (char& c : out)
        if (c == '.') c = ',';
    return out;
}

void sendTaxes(context::AppContext& ctx, fiscal::FiscalComponent& component) {
    auto& s = ctx.settings;
    auto& e = ctx.emission;
    ctx.status("CST DO CFOP");
    s.ComponentOk = component.itemIcms(
        fiscal::ItemIcmsArgs{
            .value1 = 0,
            .orig = "0",
            .csosn = e.ItemCsosn,
            .modBC = 3,
            .unused5to62 = {},
        },
        e.SharedTexts);
    s.ComponentOk = component.itemOtherTaxes(
        fiscal::ItemOtherTaxesArgs{
            .pisCst = "99",
            .pisValues = {},
            .cofinsCst = "99",
            .cofinsValues = {},
            .ipiCst = "53",
            .ipiValues = {},
            .ipiCEnq = "999",
            .unusedTexts = {"", "", ""},
            .unusedLast = 0,
        },
        e.SharedTexts);
    s.ComponentOk = component.itemClose(e.SharedTexts);
}

}  // namespace

bool GeraProdutos(context::AppContext& ctx, fiscal::FiscalComponent& component) {
    auto& s = ctx.settings;
    auto& e = ctx.emission;
    // The item being sent, for the failure text; "" outside the items.
    std::string failingItem;
    try {
        ctx.status("Iniciando dados dos produtos");
        for (e.ItemIndex = 1; e.ItemIndex <= e.SaleItemCount; ++e.ItemIndex) {
            failingItem = "item " + std::to_string(e.ItemIndex);
            database::Recordset& rows = e.ItemRows.value();
            const std::string code = rows.field("coditem").text();
            failingItem += " (coditem " + code + ")";
            const std::string gtin = "SEM GTIN";
            const std::string description = itemDescription(ctx, rows, code);

            ctx.status("Adquirindo NCM");
            const std::string ncm = itemNcm(ctx, code);
            ctx.status("Verificando NCM " + std::to_string(e.ItemIndex) + "/" + std::to_string(e.SaleItemCount));
            if (ncm == kPlaceholderNcm || EstaVazio(std::string_view(ncm))) {
                ctx.frontend().messageBox("NCM invalido: " + ncm, platform::MessageStyle::Ok);
                // The routine's log line of the drop carries this text: the shop learns which item.
                e.OperationMessage = "NCM invalido: " + ncm + " no " + failingItem;
                removeSaleFromQueue(ctx);
                return true;
            }

            ctx.status("NCM inserido");
            const TaxClassification tax = classify(ctx, rows.field("cfop").text());
            e.ItemCfop = std::to_string(tax.cfop);
            e.ItemCsosn = tax.csosn;

            ctx.status("Calculo QUT");
            // The unit price is taken before the discount, so that quantity times price gives the gross
            // value and the discount is sent apart; a quantity of 0 sends the whole value as unit price.
            const double quantity = itemAmount(rows, "Quantidade");
            const double divisor = quantity == 0 ? 1 : quantity;
            const double discount = itemAmount(rows, "Desconto");
            const double unitPrice = (itemAmount(rows, "valortotalitem") + discount) / divisor;
            const double grossValue = inCents(unitPrice * quantity);
            const double itemDiscount = inCents(discount);
            // A discount beyond the item's value would make the item, and maybe the invoice, negative.
            if (itemDiscount > grossValue)
                throw std::invalid_argument("campo Desconto \"" + rows.field("Desconto").text() +
                                            "\" maior que o valor do item (" + centsText(grossValue) + ")");
            e.ProductsTotal += grossValue;
            e.DiscountTotal += itemDiscount;
            std::string unit = fitToLayout(rows.field("medida").text());
            if (EstaVazio(std::string_view(unit))) unit = "UND";

            s.ComponentOk = component.itemProduct(
                fiscal::ItemProductArgs{
                    .nItem = e.ItemIndex,
                    .cProd = code,
                    .xProd = description,
                    .ncm = ncm,
                    .nve = "",
                    .cest = "",
                    .cEAN = gtin,
                    .cEANTrib = gtin,
                    .cfop = tax.cfop,
                    .qCom = quantity,
                    .vUnCom = unitPrice,
                    .uCom = unit,
                    .qTrib = quantity,
                    .vUnTrib = unitPrice,
                    .uTrib = unit,
                    .vProd = grossValue,
                    .vFrete = 0,
                    .vSeg = 0,
                    .vDesc = itemDiscount,
                    .vOutro = 0,
                    .unused21to23 = {},
                    .unused24to25 = {"", ""},
                    .unused26 = 0,
                    .unused27to31 = {"", "", "", "", ""},
                    .indTot = 1,
                    .unused33 = "",
                },
                e.SharedTexts);
            sendTaxes(ctx, component);
            rows.moveNext();
        }
        failingItem.clear();
        e.ItemRows.reset();
        return false;
    } catch (const std::exception& error) {
        // The items not sent would be missing from the document: the routine stops the sale.
        reportGroupFailure(ctx, saleFailureText(ctx, error.what(), failingItem), "ERRO ITEM");
        return false;
    }
}

std::string BuscaNCM(context::AppContext& ctx, const std::string& itemCode) {
    const auto rows =
        ctx.db->open("Select codigofiscal, codigo from estoque where codigo = " + sqlNumber(toNumber(itemCode)));
    std::string ncm;
    if (rows.recordCount() > 0) ncm = rows.field("CodigoFiscal").text();
    // The separators go before the cut: "2202.10.00" is the 8 digits 22021000, not "2202.10." cut.
    return leftCharacters(RetiraCaracteres(ncm, "., ", true), 8);
}

std::string ListaItensVenda(context::AppContext& ctx, const std::string& saleCode) {
    auto rows = ctx.db->open("Select * from vendasconclu where codigovenda = '" +
                             database::sqlEscape(ctx.db->kind(), saleCode) + "'");
    std::string list;
    while (!rows.eof()) {
        list += rows.field("coditem").text() + " - " + rows.field("discriminacao").text() + context::kLineBreak;
        rows.moveNext();
        ctx.doEvents();
    }
    return list;
}

}  // namespace quorvanti::document
