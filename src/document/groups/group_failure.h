// How a group procedure reports what it could not put into the NFC-e: its message box (the title the
// procedure has always used) and EmissionState.GroupFailure, which makes the emission routine stop the
// sale before generation and keep its queue row. A document is never made from part of a sale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "context/app_context.h"

namespace quorvanti::document {

// "Venda <sale code>: <what>", naming the sale being built, or "Venda <sale code>, <item>: <what>".
std::string saleFailureText(const context::AppContext& ctx, std::string_view what, std::string_view item = {});

// Records `text` as the sale's group failure (the first failure of a sale is the one kept) and shows it
// in a critical message box titled `title`.
void reportGroupFailure(context::AppContext& ctx, const std::string& text, const char* title);

// A number held as text as the component's 32-bit integer, like componentInteger, but a text that is
// not one raises std::invalid_argument naming `field` and the value: campo codmunicipio "51O8" ...
std::int32_t fieldInteger(std::string_view text, std::string_view field);

}  // namespace quorvanti::document
