// The groups that close an NFC-e after its items: totals (from the sale's summary row and the products
// total of the item group), transport (none), payment (all in money) and the additional information
// step, which only empties the shared result texts. Each shows a failure under its own title, leaves it
// in EmissionState.GroupFailure and returns.
#pragma once

#include "context/app_context.h"
#include "fiscal_component/interface/fiscal_component.h"

namespace quorvanti::document {

// `GeraTotais`: the totals group from EmissionState.SaleHeader and ProductsTotal; invoice value =
// ProductsTotal minus the items' discounts (DiscountTotal). Failure title "ERRO TOTAL".
void GeraTotais(context::AppContext& ctx, fiscal::FiscalComponent& component);

// `GeraTransporte`: freight mode 9 (no transport). Failure title "ERRO OBS".
void GeraTransporte(context::AppContext& ctx, fiscal::FiscalComponent& component);

// `GeraPagamento`: one payment at sight, in money, of `amount`. Failure title "ERRO PAGAMENTO".
void GeraPagamento(context::AppContext& ctx, double& amount, fiscal::FiscalComponent& component);

// `GeraObservacoes`: sends nothing; empties EmissionState.SharedTexts. Failure title "ERRO OBS".
void GeraObservacoes(context::AppContext& ctx, fiscal::FiscalComponent& component);

}  // namespace quorvanti::document
