#include "fiscal_events/cancellation.h"

#include "authorisation/outcome_texts.h"
#include "database/sql_escape.h"
#include "document/text/text_helpers.h"
#include "fiscal_events/authorised_nfce.h"
#include "fiscal_events/event_journal.h"
#include "fiscal_events/event_sending.h"

namespace quorvanti::fiscal_events {

namespace {

CancelOutcome outcome(CancelResult result, std::string message, std::string protocol = "") {
    return CancelOutcome{.result = result, .message = std::move(message), .protocol = std::move(protocol)};
}

std::string answerText(const EventSettlement& s) { return std::to_string(s.cStat) + " - " + s.text; }

}  // namespace

CancelOutcome cancelNFCe(context::AppContext& ctx, fiscal::FiscalComponent& component, const std::string& key,
                         const std::string& reason) {
    if (!authorisation::isAccessKey(key))
        return outcome(CancelResult::InvalidRequest, "a chave de acesso deve ter 44 dígitos, recebida \"" + key + "\"");
    if (const std::string problem = reasonProblem(reason); !problem.empty())
        return outcome(CancelResult::InvalidRequest, "cancelamento não enviado: " + problem);
    const auto nfce = findAuthorised(ctx, key);
    if (!nfce)
        return outcome(CancelResult::UnknownDocument,
                       "nenhuma NFC-e autorizada com a chave " + key + " está gravada em " + procNFePath(ctx, key));

    EventJournal journal(ctx);
    const std::string markCancelled = "UPDATE nfce_gerada SET cancelada = 'sim' WHERE chave = '" +
                                      database::sqlEscape(ctx.db->kind(), key) + "'";
    const std::string subject = "NFC-e " + std::to_string(nfce->number) +
                                (nfce->saleCode.empty() ? "" : " (venda " + nfce->saleCode + ")");
    auto earlier = journal.find(key, kCancellation);
    if (earlier && earlier->state == request_state::kRegistered) {
        ctx.db->execute(markCancelled);
        return outcome(CancelResult::AlreadyCancelled, subject + " já estava cancelada (protocolo " + earlier->protocol + ")",
                       earlier->protocol);
    }
    const bool mayHaveArrived = earlier && earlier->state == request_state::kRequested;
    EventRecord record;
    if (mayHaveArrived) {
        record = *earlier;
    } else {
        record.id = journal.request(key, kCancellation, "", document::trimBlanks(reason));
        record.key = key;
        record.tpEvento = kCancellation;
        record.reason = document::trimBlanks(reason);
    }
    const EventSettlement settlement =
        sendJournalledEvent(ctx, component, journal, record, nfce->nProt, mayHaveArrived, {markCancelled});
    const std::string stored =
        settlement.storeProblem.empty() ? "" : "; o XML do evento não foi gravado: " + settlement.storeProblem;
    switch (settlement.verdict) {
        case EventVerdict::Registered:
            return outcome(CancelResult::Registered,
                           subject + " cancelada: " + answerText(settlement) + ", protocolo " + settlement.protocol + stored,
                           settlement.protocol);
        case EventVerdict::AlreadyRegistered:
            return outcome(CancelResult::AlreadyCancelled,
                           subject + " já estava cancelada na SEFAZ (protocolo " + settlement.protocol + ")",
                           settlement.protocol);
        case EventVerdict::TooLate:
            return outcome(CancelResult::TooLate,
                           subject + " não foi cancelada: " + answerText(settlement) + ". O prazo de " +
                               std::to_string(cancellationWindowMinutes(ctx)) +
                               " minutos após a autorização passou. Peça o cancelamento fora de prazo no portal da "
                               "SEFAZ do estado ou, com o contador, registre a devolução por uma nota de entrada");
        case EventVerdict::NoAnswer:
            return outcome(CancelResult::NoAnswer,
                           subject + ": a SEFAZ não respondeu ao cancelamento (" + answerText(settlement) +
                               "). Repita o comando: a SEFAZ será consultada antes de um novo envio");
        case EventVerdict::Refused:
            break;
    }
    return outcome(CancelResult::Refused, subject + " não foi cancelada: " + answerText(settlement));
}

}  // namespace quorvanti::fiscal_events
