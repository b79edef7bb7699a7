// The normal documents that contingency superseded (attempt state "superseded"): once the authority
// answers about one, it is cancelled by substitution (event 110112, naming the sale's contingency
// document, as soon as that one is authorised) when it was authorised, or its number is given up for
// voiding when it never arrived or was refused. So a sale never keeps two valid NFC-e, nor none.
#pragma once

#include <functional>
#include <string>

#include "context/app_context.h"
#include "fiscal_component/interface/fiscal_component.h"

namespace quorvanti::fiscal_events {

// The justification of the substitution events.
inline constexpr const char* kSubstitutionReason = "NFC-e substituida por outra emitida em contingencia para a mesma venda";

// True when a superseded document of this environment waits to be settled.
bool substitutionsWait(context::AppContext& ctx);

// Settles what can be settled now; `tell` receives one line per document settled or refused. Answers
// false when the authority did not answer (the rest waits for the next round).
bool resolveSubstitutions(context::AppContext& ctx, fiscal::FiscalComponent& component,
                          const std::function<void(const std::string&)>& tell);

}  // namespace quorvanti::fiscal_events
