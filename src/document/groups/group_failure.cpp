#include "document/groups/group_failure.h"

#include <stdexcept>

#include "document/text/vb_conversions.h"

namespace quorvanti::document {

std::string saleFailureText(const context::AppContext& ctx, std::string_view what, std::string_view item) {
    std::string text = "Venda " + ctx.emission.SaleCode;
    if (!item.empty()) text += ", " + std::string(item);
    return text + ": " + std::string(what);
}

void reportGroupFailure(context::AppContext& ctx, const std::string& text, const char* title) {
    if (ctx.emission.GroupFailure.empty()) ctx.emission.GroupFailure = text;
    // The sale stays queued and is tried again: the same failure is shown once, not at every try.
    if (text == ctx.retries.lastFailure(ctx.emission.SaleCode)) return;
    ctx.frontend().messageBox(text, platform::MessageStyle::OkCritical, title);
}

std::int32_t fieldInteger(std::string_view text, std::string_view field) {
    try {
        return componentInteger(text);
    } catch (const std::exception&) {
        throw std::invalid_argument("campo " + std::string(field) + " \"" + std::string(text) +
                                    "\" não é um número inteiro");
    }
}

}  // namespace quorvanti::document
