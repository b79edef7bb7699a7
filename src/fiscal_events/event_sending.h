// Sending one journalled fiscal event and settling it: the answer decides the journal's state, and the
// statements that record the event's effect (the cancelled mark, the attempt's state) are committed in
// the same transaction as the journal's "registered". A request whose earlier send may have reached the
// authority (its answer lost, the process killed) is first consulted by key: the authority reports the
// events it holds for it, so the event is never sent blindly twice.
#pragma once

#include <string>
#include <vector>

#include "context/app_context.h"
#include "fiscal_component/interface/fiscal_component.h"
#include "fiscal_events/event_journal.h"

namespace quorvanti::fiscal_events {

enum class EventVerdict {
    Registered,         // 135, 136, 155
    AlreadyRegistered,  // the authority already held it (573, or found by the consultation)
    TooLate,            // 501: the window has passed
    Refused,            // any other answer: nothing changed
    NoAnswer,           // no answer: the request stays journalled and is consulted before the next send
};

struct EventSettlement {
    EventVerdict verdict = EventVerdict::NoAnswer;
    int cStat = 0;            // the event's status, or the batch's, or the failure's (above 8999)
    std::string text;         // the authority's text or the failure's
    std::string protocol;     // the event's protocol when registered
    std::string storeProblem; // why the procEventoNFe could not be written ("" when it was)
};

// Sends `record` (journalled as requested) for the NFC-e authorised under `nProt`. `mayHaveArrived`: an
// earlier send of this request may have reached the authority. `whenRegistered`: statements committed
// with the registration. ComponentError of an invalid request settles it as refused.
EventSettlement sendJournalledEvent(context::AppContext& ctx, fiscal::FiscalComponent& component,
                                    EventJournal& journal, const EventRecord& record, const std::string& nProt,
                                    bool mayHaveArrived, const std::vector<std::string>& whenRegistered);

// The cancellation (110111 or 110112) among the events a consultation reported, if any.
const fiscal::RegisteredEvent* reportedCancellation(const fiscal::ConsultationResult& result);

}  // namespace quorvanti::fiscal_events
