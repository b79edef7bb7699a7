// What the operator's panel shows of the fiscal events that no command line needs: the voidings the
// authority settled lately, newest first. Read on the monitor thread through its one connection.
#pragma once

#include <cstddef>
#include <vector>

#include "context/app_context.h"
#include "fiscal_events/event_journal.h"

namespace quorvanti::fiscal_events {

// Ranges of this environment that the authority voided, found used, or refused, most recently settled
// first; at most `most`.
std::vector<VoidRecord> recentlySettledVoids(context::AppContext& ctx, std::size_t most);

}  // namespace quorvanti::fiscal_events
