#include "document/groups/closing_groups.h"

#include <exception>

#include "document/groups/group_failure.h"

namespace quorvanti::document {

namespace {

void showFailure(context::AppContext& ctx, const std::exception& error, const char* group, const char* title) {
    reportGroupFailure(ctx, saleFailureText(ctx, std::string(group) + ": " + error.what()), title);
}

}  // namespace

void GeraTotais(context::AppContext& ctx, fiscal::FiscalComponent& component) {
    auto& e = ctx.emission;
    try {
        const database::Recordset& header = e.SaleHeader.value();
        const auto amount = [&](const char* column) { return header.field(column).number(); };
        const double discount = e.DiscountTotal;
        ctx.settings.ComponentOk = component.totals(
            fiscal::TotalsArgs{
                .vBC = amount("BaseICMS"),
                .vICMS = amount("ValorICMS"),
                .vBCST = amount("BaseICMSST"),
                .vST = amount("ValorICMSST"),
                .vCOFINS = amount("ValorCOFINS"),
                .vPIS = amount("ValorPIS"),
                .vIPI = amount("ValorIPI"),
                .vDesc = discount,
                .vSeg = amount("ValorSeguro"),
                .vFrete = amount("ValorFrete"),
                .vOutro = amount("ValorOutrasDespesas"),
                .unused12to25 = {},
                .vII = amount("ValorImportacao"),
                .unused27to28 = {},
                .vProd = e.ProductsTotal,
                .vNF = e.ProductsTotal - discount,
                .vTotTrib = 0,
                .unused32 = 0,
                .unused33 = "",
                .unused34to53 = {},
            },
            e.SharedTexts);
    } catch (const std::exception& error) {
        showFailure(ctx, error, "totais", "ERRO TOTAL");
    }
}

void GeraTransporte(context::AppContext& ctx, fiscal::FiscalComponent& component) {
    try {
        ctx.settings.ComponentOk = component.transport(
            fiscal::TransportArgs{
                .modFrete = 9,
                .value2 = 0,
                .texts3to5 = {"", "", ""},
                .values6to9 = {0, 0, 0, 0},
                .texts10to19 = {"", "", "", "", "", "", "", "", "", ""},
            },
            ctx.emission.SharedTexts);
    } catch (const std::exception& error) {
        showFailure(ctx, error, "transporte", "ERRO OBS");
    }
}

void GeraPagamento(context::AppContext& ctx, double& amount, fiscal::FiscalComponent& component) {
    try {
        ctx.settings.ComponentOk = component.payment(
            fiscal::PaymentArgs{
                .indPag = 0,
                .tPag = 1,
                .vPag = amount,
                .values4to7 = {0, 0, 0, 0},
                .texts8to10 = {"", "", ""},
            },
            ctx.emission.SharedTexts);
    } catch (const std::exception& error) {
        showFailure(ctx, error, "pagamento", "ERRO PAGAMENTO");
    }
}

void GeraObservacoes(context::AppContext& ctx, fiscal::FiscalComponent&) {
    try {
        ctx.emission.SharedTexts = {};
    } catch (const std::exception& error) {
        showFailure(ctx, error, "observações", "ERRO OBS");
    }
}

}  // namespace quorvanti::document
