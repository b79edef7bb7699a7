// The queue poll: each Timer1 tick asks the settings file whether there is work, reads the queue query
// chosen at start-up as a static snapshot and hands each queued sale to the emission routine, one after
// the other, deleting the row after its turn unless the routine says the row must stay.
#pragma once

#include <functional>
#include <string>

#include "authorisation/emission_routine.h"
#include "context/app_context.h"

namespace quorvanti::monitor {

using authorisation::EmissionOutcome;
using authorisation::SaleQueueEntry;
using EmissionRoutine = std::function<EmissionOutcome(context::AppContext&, SaleQueueEntry&)>;

// The Timer1 tick handler. Raises what the database raises (nothing catches it: the program ends).
void Timer1_Timer(context::AppContext& ctx, const EmissionRoutine& emiteNFCeVenda);

}  // namespace quorvanti::monitor
