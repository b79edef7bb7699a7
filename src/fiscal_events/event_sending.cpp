#include "fiscal_events/event_sending.h"

#include "context/shop_clock.h"
#include "database/transaction.h"

namespace quorvanti::fiscal_events {

namespace {

using namespace request_state;

bool registers(int status) { return status == 135 || status == 136 || status == 155; }

EventSettlement registered(context::AppContext& ctx, EventJournal& journal, const EventRecord& record,
                           EventVerdict verdict, int status, const std::string& text, const std::string& protocol,
                           const std::vector<std::string>& whenRegistered) {
    database::Transaction transaction(*ctx.db);
    ctx.db->execute(journal.settleStatement(record.id, kRegistered, std::to_string(status) + " - " + text, protocol));
    for (const std::string& statement : whenRegistered) ctx.db->execute(statement);
    transaction.commit();
    return EventSettlement{.verdict = verdict, .cStat = status, .text = text, .protocol = protocol, .storeProblem = ""};
}

EventSettlement settled(EventJournal& journal, const EventRecord& record, EventVerdict verdict, int status,
                        const std::string& text) {
    journal.settle(record.id, kRefused, std::to_string(status) + " - " + text);
    return EventSettlement{.verdict = verdict, .cStat = status, .text = text, .protocol = "", .storeProblem = ""};
}

// Asks the authority what it holds for the key: registered (it reports the cancellation), NoAnswer, or
// Refused meaning "not there: send".
EventSettlement askAuthority(context::AppContext& ctx, fiscal::FiscalComponent& component, EventJournal& journal,
                             const EventRecord& record, const std::vector<std::string>& whenRegistered) {
    component.consultByKey(record.key);
    const auto result = component.consultationResult();
    if (const auto* event = reportedCancellation(result))
        return registered(ctx, journal, record, EventVerdict::AlreadyRegistered, event->cStat,
                          "evento já registrado na SEFAZ", event->nProt, whenRegistered);
    if (result.cStat > 8999 || result.cStat == 0)
        return EventSettlement{.verdict = EventVerdict::NoAnswer, .cStat = result.cStat, .text = result.xMotivo,
                               .protocol = "", .storeProblem = ""};
    return EventSettlement{.verdict = EventVerdict::Refused, .cStat = result.cStat, .text = result.xMotivo,
                           .protocol = "", .storeProblem = ""};
}

}  // namespace

const fiscal::RegisteredEvent* reportedCancellation(const fiscal::ConsultationResult& result) {
    for (const auto& event : result.events)
        if ((event.tpEvento == kCancellation || event.tpEvento == kSubstitution) && registers(event.cStat))
            return &event;
    return nullptr;
}

EventSettlement sendJournalledEvent(context::AppContext& ctx, fiscal::FiscalComponent& component,
                                    EventJournal& journal, const EventRecord& record, const std::string& nProt,
                                    bool mayHaveArrived, const std::vector<std::string>& whenRegistered) {
    if (mayHaveArrived) {
        const EventSettlement asked = askAuthority(ctx, component, journal, record, whenRegistered);
        if (asked.verdict != EventVerdict::Refused) return asked;
    }
    try {
        component.sendEvent(fiscal::EventArgs{
            .accessKey = record.key,
            .tpEvento = record.tpEvento,
            .nSeqEvento = record.nSeq,
            .nProt = nProt,
            .xJust = record.reason,
            .chNFeRef = record.refKey,
            .dhEvento = context::shopNowText(ctx),
            .idLote = record.id,
        });
    } catch (const fiscal::ComponentError& error) {
        return settled(journal, record, EventVerdict::Refused, 0, error.what());
    }
    const fiscal::EventResult answer = component.eventResult();
    if (registers(answer.eventCStat)) {
        EventSettlement done = registered(ctx, journal, record, EventVerdict::Registered, answer.eventCStat,
                                          answer.eventXMotivo, answer.nProt, whenRegistered);
        done.storeProblem = answer.storeFailure;
        return done;
    }
    if (answer.eventCStat == 573) {
        // A duplicate: the authority holds this event already; its protocol comes from the consultation.
        const EventSettlement asked = askAuthority(ctx, component, journal, record, whenRegistered);
        if (asked.verdict == EventVerdict::AlreadyRegistered || asked.verdict == EventVerdict::NoAnswer) return asked;
        return settled(journal, record, EventVerdict::Refused, 573, answer.eventXMotivo);
    }
    if (answer.eventCStat == 501) return settled(journal, record, EventVerdict::TooLate, 501, answer.eventXMotivo);
    if (answer.eventCStat != 0) return settled(journal, record, EventVerdict::Refused, answer.eventCStat, answer.eventXMotivo);
    if (answer.cStat > 8999 || answer.cStat == 0)
        return EventSettlement{.verdict = EventVerdict::NoAnswer, .cStat = answer.cStat, .text = answer.xMotivo,
                               .protocol = "", .storeProblem = ""};
    return settled(journal, record, EventVerdict::Refused, answer.cStat, answer.xMotivo);
}

}  // namespace quorvanti::fiscal_events
