// The item group of an NFC-e: every item row of the sale with its description, NCM, CFOP and CSOSN
// (Simples Nacional), unit price and unit, followed by the fixed ICMS, PIS/COFINS/IPI and item-close
// calls. Accumulates EmissionState.ProductsTotal and DiscountTotal (in cents). Also the NCM lookup and
// the item listing used when the authority refuses an NCM.
#pragma once

#include <string>

#include "context/app_context.h"
#include "fiscal_component/interface/fiscal_component.h"

namespace quorvanti::document {

// `GeraProdutos`: sends items 1 to EmissionState.SaleItemCount from EmissionState.ItemRows (positioned
// on the first row). Answers true when it removed the sale from the queue (an invalid or missing NCM,
// which also stops at once); the routine then abandons the sale. A description never stops it: runs of
// blanks become one blank, and a name left empty is sent as "PRODUTO <code>". An item value the document
// cannot carry (a null, non-numeric or negative quantity, total or discount, a discount beyond the
// item's value) or any other failure stops the group: the text naming the sale, the item and the value
// is shown under "ERRO ITEM" and left in EmissionState.GroupFailure, and the routine must not generate
// the document.
bool GeraProdutos(context::AppContext& ctx, fiscal::FiscalComponent& component);

// `BuscaNCM`: the product's NCM (`Estoque.CodigoFiscal`) without ".", "," and blanks, cut to 8
// characters; "" when the product or its NCM is missing. Database errors reach the caller.
std::string BuscaNCM(context::AppContext& ctx, const std::string& itemCode);

// `ListaItensVenda`: one line per item row of the sale, "code - description" and CR LF; "" for a sale
// without rows. Database errors reach the caller.
std::string ListaItensVenda(context::AppContext& ctx, const std::string& saleCode);

}  // namespace quorvanti::document
