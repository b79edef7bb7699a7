// Which monitor works on which queued sale. Several monitors may poll one database (two program folders,
// two terminals that both print, a contingency sender beside a normal monitor): before building anything
// for a sale, a monitor claims it in one transaction (table quorvanti_claims), and gives it back when
// its turn ends. A claim is a lease: a monitor that died holding one loses it when the lease runs out,
// and whoever takes the sale over starts, as every emission does, from the attempt journal. The same
// monitor started again takes its own claims back at once.
#pragma once

#include <chrono>
#include <string>

#include "authorisation/attempt_journal.h"
#include "context/app_context.h"

namespace quorvanti::authorisation {

// How long a claim holds without being renewed; the routine renews it at every step that may wait.
inline constexpr std::chrono::seconds kClaimLease{600};

// True when this monitor now holds `sale` (it was free, its lease had run out, or it was already this
// monitor's); false when another monitor holds it or took it at the same moment. Raises what the
// database raises otherwise.
bool claimSale(context::AppContext& ctx, const SaleRef& sale);

// Extends this monitor's claim on `sale`; raises what the database raises.
void renewClaim(context::AppContext& ctx, const SaleRef& sale);

// Gives `sale` back, if this monitor holds it.
void releaseSale(context::AppContext& ctx, const SaleRef& sale);

}  // namespace quorvanti::authorisation
