// The idle poll's fiscal round: superseded documents settled (cancelled by substitution, or their numbers
// given up) and given-up numbers voided, at most every 5 minutes, and only where the authority is
// talked to: not while contingency is on (a call that waits for an absent authority would keep the next
// customer waiting), except in the contingency sender. Each settled item goes to LOG_NFCE.txt and the
// status line; a failure is logged and the round is tried again next time.
#pragma once

#include "context/app_context.h"

namespace quorvanti::fiscal_events {

void fiscalUpkeep(context::AppContext& ctx);

}  // namespace quorvanti::fiscal_events
