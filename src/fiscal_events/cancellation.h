// Cancellation (event 110111) of an authorised NFC-e of this shop, from the command line or the panel.
// Registered → nfce_gerada.cancelada = "sim" and the event's procEventoNFe stored; the sale's own
// records (VendasConclu) are the point-of-sale program's and stay as they are.
#pragma once

#include <string>

#include "context/app_context.h"
#include "fiscal_component/interface/fiscal_component.h"

namespace quorvanti::fiscal_events {

enum class CancelResult {
    Registered,        // the authority registered the cancellation now
    AlreadyCancelled,  // it already had it (573, or an earlier request whose answer was lost)
    TooLate,           // 501: the state's window has passed
    Refused,           // any other answer: nothing changed
    NoAnswer,          // the authority did not answer: run again (it is consulted first)
    UnknownDocument,   // no authorised NFC-e of that key is stored here
    InvalidRequest,    // a key that is not 44 digits, or a justification outside 15-255 characters
};

struct CancelOutcome {
    CancelResult result = CancelResult::Refused;
    std::string message;   // for the operator, in Portuguese
    std::string protocol;  // the cancellation's protocol when registered
};

// Cancels `key` with the justification `reason`; `component` is configured for the shop. Database and
// component errors propagate (the caller's boundary reports them).
CancelOutcome cancelNFCe(context::AppContext& ctx, fiscal::FiscalComponent& component, const std::string& key,
                         const std::string& reason);

}  // namespace quorvanti::fiscal_events
