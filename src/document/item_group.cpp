#include "document/item_group.h"

#include <exception>

#include "context/program_files.h"
#include "database/sql_escape.h"
#include "document/identification_group.h"
#include "document/text_helpers.h"
#include "document/vb_conversions.h"

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

// The item's description for the document; reports (and removes the sale for) a description that
// still holds two blanks in a row after cleaning, which the authority refuses.
std::string itemDescription(context::AppContext& ctx, const database::Recordset& rows, bool& removed) {
    if (ctx.settings.Environment == "2") return kHomologationDescription;
    // Each cleaning halves runs of blanks once, so two passes leave two blanks only where five or more
    // stood; those the operator must fix in the catalogue.
    std::string description = trimBlanks(LimpaTexto(rows.field("discriminacao").text()));
    description = trimBlanks(LimpaTexto(description));
    if (description.find("  ") != std::string::npos) {
        ctx.frontend().messageBox("O produto " + description +
                                      " contem DOIS espaços entre o nome, deve ser removido para somente um espaço",
                                  platform::MessageStyle::Ok);
        removeSaleFromQueue(ctx);
        removed = true;
    }
    return description;
}

// The NCM as the document carries it: cut to 8 characters first, then cleaned of dots, blank pairs and
// commas, so a code written "2106.90.90" is sent as "210690".
std::string itemNcm(context::AppContext& ctx, const database::Recordset& rows) {
    std::string ncm = BuscaNCM(ctx, rows.field("coditem").text());
    ncm = RetiraCaracteres(ncm, ".", false);
    ncm = RetiraCaracteres(ncm, "  ", false);
    ncm = RetiraCaracteres(ncm, ",", false);
    return LimpaTexto(ncm);
}

// CFOP and CSOSN of a Simples Nacional emitter: the product's CFOP when it has four characters (5102
// otherwise); CSOSN 500 (ICMS charged before by substitution) for 5405 and 5656, 102 for the rest.
TaxClassification classify(context::AppContext& ctx, const std::string& cfop) {
    const bool fourCharacters = characterCount(cfop) == 4;
    const std::string cleaned = fourCharacters ? RetiraCaracteres(cfop, ".,", true) : "";
    ctx.status("CFOP - dados");
    TaxClassification result;
    if (!fourCharacters) return result;
    result.cfop = componentInteger(cleaned);
    if (result.cfop == 5405 || result.cfop == 5656) result.csosn = "500";
    return result;
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
    bool removed = false;
    try {
        ctx.status("Iniciando dados dos produtos");
        for (e.ItemIndex = 1; e.ItemIndex <= e.SaleItemCount; ++e.ItemIndex) {
            database::Recordset& rows = e.ItemRows.value();
            const std::string gtin = "SEM GTIN";
            const std::string description = itemDescription(ctx, rows, removed);

            ctx.status("Adquirindo NCM");
            const std::string ncm = itemNcm(ctx, rows);
            ctx.status("Verificando NCM " + std::to_string(e.ItemIndex) + "/" + std::to_string(e.SaleItemCount));
            if (ncm == kPlaceholderNcm || EstaVazio(std::string_view(ncm))) {
                ctx.frontend().messageBox("NCM invalido: " + ncm, platform::MessageStyle::Ok);
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
            const double quantity = rows.field("Quantidade").number();
            const double divisor = quantity == 0 ? 1 : quantity;
            const double discount = rows.field("Desconto").number();
            const double unitPrice = (rows.field("valortotalitem").number() + discount) / divisor;
            e.ProductsTotal += quantity * unitPrice;
            const double grossValue = unitPrice * quantity;
            std::string unit = rows.field("medida").text();
            if (EstaVazio(std::string_view(unit))) unit = "UND";

            s.ComponentOk = component.itemProduct(
                fiscal::ItemProductArgs{
                    .nItem = e.ItemIndex,
                    .cProd = rows.field("coditem").text(),
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
                    .vDesc = discount,
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
        e.ItemRows.reset();
        return removed;
    } catch (const std::exception& error) {
        ctx.frontend().messageBox(error.what(), platform::MessageStyle::OkCritical, "ERRO ITEM");
        return removed;
    }
}

std::string BuscaNCM(context::AppContext& ctx, const std::string& itemCode) {
    const auto rows =
        ctx.db->open("Select codigofiscal, codigo from estoque where codigo = " + sqlNumber(toNumber(itemCode)));
    std::string ncm;
    if (rows.recordCount() > 0) ncm = rows.field("CodigoFiscal").text();
    return leftCharacters(trimBlanks(ncm), 8);
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
