#include "fiscal_events/substitution.h"

#include <cstdlib>

#include "authorisation/attempt_journal.h"
#include "authorisation/outcome_texts.h"
#include "database/transaction.h"
#include "fiscal_events/event_journal.h"
#include "fiscal_events/event_sending.h"
#include "fiscal_events/number_voiding.h"

namespace quorvanti::fiscal_events {

namespace {

namespace state = authorisation::attempt_state;
using authorisation::Attempt;

// The sale's contingency document made after `earlier`, if any.
std::optional<Attempt> substituteOf(const authorisation::AttemptJournal& attempts, const Attempt& earlier) {
    std::optional<Attempt> found;
    for (const Attempt& a : attempts.attemptsOf({earlier.saleCode, earlier.saleDate}))
        if (a.id > earlier.id && a.tpEmis == "9" && !a.key.empty()) found = a;
    return found;
}

enum class Round { Settled, Waiting, NoAnswer };

Round resolve(context::AppContext& ctx, fiscal::FiscalComponent& component, authorisation::AttemptJournal& attempts,
              EventJournal& events, const Attempt& earlier, const std::function<void(const std::string&)>& tell) {
    const std::string sale = "venda " + earlier.saleCode;
    const auto event = events.find(earlier.key, kSubstitution);
    // A refused substitution is the shop's to settle (told when it was refused); it is not sent again.
    if (event && event->state == request_state::kRefused) return Round::Waiting;
    const auto substitute = substituteOf(attempts, earlier);
    if (!substitute) return Round::Waiting;
    component.consultByKey(earlier.key);
    const fiscal::ConsultationResult result = component.consultationResult();
    if (result.cStat > 8999 || result.cStat == 0) return Round::NoAnswer;
    if (const auto* cancellation = reportedCancellation(result)) {
        // Cancelled already: by this monitor's request whose answer was lost, or by hand.
        database::Transaction transaction(*ctx.db);
        ctx.db->execute(attempts.stateUpdate(earlier.key, state::kSubstituted, "cancelada na SEFAZ"));
        if (event && event->state == request_state::kRequested)
            ctx.db->execute(events.settleStatement(event->id, request_state::kRegistered,
                                                   std::to_string(cancellation->cStat) + " - evento já registrado na SEFAZ",
                                                   cancellation->nProt));
        transaction.commit();
        return Round::Settled;
    }
    if (result.cStat == 217 || authorisation::rejectsTheDocument(result.protocolCStat)) {
        attempts.setState(earlier.key, state::kAbandoned,
                          std::to_string(result.cStat) + " - " + result.xMotivo + "; número a inutilizar");
        // The year of the document (its key's), not of the journal's UTC stamp.
        giveUpNumber(ctx, earlier.number, std::atoi(earlier.key.substr(2, 2).c_str()),
                     "NFC-e " + earlier.key + " substituída por contingência e não recebida pela SEFAZ");
        tell("A NFC-e " + earlier.key + " da " + sale + " não chegou à SEFAZ; o número " +
             std::to_string(earlier.number) + " será inutilizado");
        return Round::Settled;
    }
    if (!authorisation::authorises(result.cStat) && !authorisation::authorises(result.protocolCStat))
        return Round::Waiting;
    // Both documents must be authorised before the event: the substitute may still wait for its sender.
    if (substitute->state != state::kRecorded && substitute->state != state::kAuthorised) return Round::Waiting;
    // An earlier request whose answer was lost goes again as it was: the consultation above has just said
    // the authority holds no cancellation.
    const bool earlierRequest = event && event->state == request_state::kRequested;
    EventRecord record = earlierRequest ? *event : EventRecord{};
    if (!earlierRequest) {
        record.id = events.request(earlier.key, kSubstitution, substitute->key, kSubstitutionReason);
        record.key = earlier.key;
        record.tpEvento = kSubstitution;
        record.refKey = substitute->key;
        record.reason = kSubstitutionReason;
    }
    const EventSettlement settled =
        sendJournalledEvent(ctx, component, events, record, result.nProt, false,
                            {attempts.stateUpdate(earlier.key, state::kSubstituted, "cancelada por substituição")});
    const std::string answer = std::to_string(settled.cStat) + " - " + settled.text;
    switch (settled.verdict) {
        case EventVerdict::Registered:
        case EventVerdict::AlreadyRegistered:
            tell("A NFC-e " + earlier.key + " da " + sale + " foi cancelada por substituição pela " + substitute->key +
                 " (protocolo " + settled.protocol + ")");
            return Round::Settled;
        case EventVerdict::NoAnswer:
            return Round::NoAnswer;
        case EventVerdict::TooLate:
        case EventVerdict::Refused:
            break;
    }
    tell("Atenção: a " + sale + " tem duas NFC-e autorizadas (" + earlier.key + " e " + substitute->key +
         ") e a SEFAZ recusou o cancelamento por substituição da primeira: " + answer +
         ". Cancele-a pelo portal da SEFAZ ou com quorvanti --cancel");
    return Round::Settled;
}

}  // namespace

bool substitutionsWait(context::AppContext& ctx) {
    for (const Attempt& earlier : authorisation::AttemptJournal(ctx).inState(state::kSuperseded, 1000))
        if (earlier.environment == ctx.settings.Environment) return true;
    return false;
}

bool resolveSubstitutions(context::AppContext& ctx, fiscal::FiscalComponent& component,
                          const std::function<void(const std::string&)>& tell) {
    authorisation::AttemptJournal attempts(ctx);
    EventJournal events(ctx);
    for (const Attempt& earlier : attempts.inState(state::kSuperseded, 1000)) {
        if (earlier.environment != ctx.settings.Environment) continue;
        if (resolve(ctx, component, attempts, events, earlier, tell) == Round::NoAnswer) return false;
    }
    return true;
}

}  // namespace quorvanti::fiscal_events
