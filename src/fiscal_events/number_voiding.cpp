#include "fiscal_events/number_voiding.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "authorisation/attempt_journal.h"
#include "context/shop_clock.h"
#include "database/sql_escape.h"
#include "document/text/text_helpers.h"
#include "fiscal_events/authorised_nfce.h"
#include "fiscal_events/event_journal.h"
#include "platform/clock.h"

namespace quorvanti::fiscal_events {

namespace {

using namespace request_state;
namespace state = authorisation::attempt_state;

constexpr const char* kGivenUpReason = "Numeracao nao utilizada: documento nao emitido pelo sistema emissor";
// The attempt states after which the authority keeps no document under the number.
const std::string kWithoutDocument = std::string("('") + state::kRejected + "', '" + state::kNotReceived + "', '" +
                                     state::kReleased + "', '" + state::kAbandoned + "', '" + state::kSetAside + "')";
// A later number in one of these states shows the numbering has moved past the given-up ones.
const std::string kNumberInUse = std::string("('") + state::kAuthorised + "', '" + state::kRecorded + "', '" +
                                 state::kDenied + "', '" + state::kStored + "', '" + state::kSent + "', '" +
                                 state::kSuperseded + "', '" + state::kSubstituted + "')";

int settingsSeries(const context::AppContext& ctx) {
    return static_cast<int>(std::max(0L, std::strtol(ctx.settings.Series.c_str(), nullptr, 10)));
}

std::string range(long long from, long long to) {
    return from == to ? std::to_string(from) : std::to_string(from) + "-" + std::to_string(to);
}

struct Tally {
    long long voided = 0, used = 0, refused = 0;
    bool unanswered = false;
    std::vector<std::string> refusals;
};

// Sends the journalled range and settles it; a range refused for one of its numbers is split in halves.
void sendRange(context::AppContext& ctx, fiscal::FiscalComponent& component, EventJournal& journal,
               const VoidRecord& r, Tally& tally, const std::function<void(const std::string&)>& tell) {
    const std::string numbers = "série " + std::to_string(r.series) + ", números " + range(r.from, r.to);
    try {
        component.voidNumbers(fiscal::VoidingArgs{
            .series = r.series, .fromNumber = r.from, .toNumber = r.to, .year = r.year, .xJust = r.reason});
    } catch (const fiscal::ComponentError& error) {
        journal.settleVoid(r.id, kRefused, error.what());
        tally.refused += r.to - r.from + 1;
        tally.refusals.push_back(numbers + ": " + error.what());
        return;
    }
    const fiscal::VoidingResult answer = component.voidingResult();
    const std::string text = std::to_string(answer.cStat) + " - " + answer.xMotivo;
    if (answer.cStat == 102 || answer.cStat == 563) {
        journal.settleVoid(r.id, kVoided, text, answer.nProt);
        tally.voided += r.to - r.from + 1;
        tell("Inutilizados " + numbers + ": " + text + ", protocolo " + answer.nProt +
             (answer.storeFailure.empty() ? "" : "; o XML não foi gravado: " + answer.storeFailure));
        return;
    }
    if ((answer.cStat == 241 || answer.cStat == 256) && r.from < r.to) {
        journal.splitVoid(r);
        for (const VoidRecord& half : journal.voidsOver(r.series, r.from, r.to))
            if (half.state == kRequested && !tally.unanswered) sendRange(ctx, component, journal, half, tally, tell);
        return;
    }
    if (answer.cStat == 241) {
        journal.settleVoid(r.id, kUsed, text);
        tally.used += 1;
        tell("Número " + numbers + " não inutilizado: a SEFAZ tem documento com ele (" + text + ")");
        return;
    }
    if (answer.cStat == 256) {
        journal.settleVoid(r.id, kVoided, text);
        tally.voided += 1;
        return;
    }
    if (answer.cStat > 8999 || answer.cStat == 0) {
        tally.unanswered = true;  // stays requested: sent again as it is, answered 563 if it arrived
        return;
    }
    journal.settleVoid(r.id, kRefused, text);
    tally.refused += r.to - r.from + 1;
    tally.refusals.push_back(numbers + ": " + text);
}

// Given-up numbers not yet in the voiding list: every attempt on them ended without a document at the
// authority, a later number is in use, and nothing touched them for 30 minutes (a monitor may still be
// deciding about a fresh one).
std::vector<std::pair<long long, int>> newlyGivenUp(context::AppContext& ctx, int series) {
    const std::string env = database::sqlEscape(ctx.db->kind(), ctx.settings.Environment);
    const std::string cutoff = utcStamp(ctx.services.clock.utcNow() - std::chrono::minutes(30));
    const std::string scope = "amb = '" + env + "' AND serie = " + std::to_string(series);
    auto rows = ctx.db->open(
        "SELECT a.numero AS numero, min(a.criado) AS criado FROM quorvanti_attempts a WHERE a.amb = '" + env +
        "' AND a.serie = " + std::to_string(series) + " AND a.numero > 0 AND a.estado IN " + kWithoutDocument +
        " AND a.atualizado < '" + cutoff +
        "' AND NOT EXISTS (SELECT 1 FROM quorvanti_attempts b WHERE b.amb = a.amb AND b.serie = a.serie AND"
        " b.numero = a.numero AND b.estado NOT IN " + kWithoutDocument +
        ") AND NOT EXISTS (SELECT 1 FROM quorvanti_voids v WHERE v.amb = a.amb AND v.serie = a.serie AND"
        " v.numero_ini <= a.numero AND v.numero_fim >= a.numero) AND a.numero < (SELECT max(c.numero) FROM"
        " quorvanti_attempts c WHERE c.amb = a.amb AND c.serie = a.serie AND c.estado IN " + kNumberInUse +
        ") GROUP BY a.numero ORDER BY a.numero");
    // The year of the voiding is the shop's: the journal's stamps are UTC, a new year there while the
    // shop's is still the old one, which the authority refuses (453) until the shop's new year.
    const int year = context::shopNow(ctx).year % 100;
    std::vector<std::pair<long long, int>> numbers;
    for (rows.moveFirst(); !rows.eof(); rows.moveNext())
        numbers.emplace_back(static_cast<long long>(rows.field("numero").number()), year);
    return numbers;
}

}  // namespace

void collectGivenUpNumbers(context::AppContext& ctx) {
    EventJournal journal(ctx);
    const int series = settingsSeries(ctx);
    for (const auto& [number, year] : newlyGivenUp(ctx, series))
        journal.addVoid(series, number, number, year, kGivenUpReason, kPending, "número abandonado pelo emissor");
}

bool voidingWaits(context::AppContext& ctx) {
    EventJournal journal(ctx);
    return !journal.voidsIn(kPending).empty() || !journal.voidsIn(kRequested).empty();
}

void giveUpNumber(context::AppContext& ctx, long long number, int year, const std::string& why) {
    EventJournal journal(ctx);
    const int series = settingsSeries(ctx);
    if (!journal.voidsOver(series, number, number).empty()) return;
    journal.addVoid(series, number, number, year, kGivenUpReason, kPending, why);
}

bool voidGivenUpNumbers(context::AppContext& ctx, fiscal::FiscalComponent& component,
                        const std::function<void(const std::string&)>& tell) {
    collectGivenUpNumbers(ctx);
    return voidWaitingNumbers(ctx, component, tell);
}

bool voidWaitingNumbers(context::AppContext& ctx, fiscal::FiscalComponent& component,
                        const std::function<void(const std::string&)>& tell) {
    EventJournal journal(ctx);
    Tally tally;
    // Requests whose answer was lost go again exactly as they were, so the authority can say 563.
    for (const VoidRecord& earlier : journal.voidsIn(kRequested)) {
        if (tally.unanswered) return false;
        sendRange(ctx, component, journal, earlier, tally, tell);
    }
    const auto pending = journal.voidsIn(kPending);
    for (std::size_t first = 0; first < pending.size() && !tally.unanswered;) {
        std::size_t last = first;
        std::vector<long long> ids{pending[first].id};
        while (last + 1 < pending.size() && pending[last + 1].series == pending[first].series &&
               pending[last + 1].year == pending[first].year && pending[last + 1].from == pending[last].to + 1 &&
               pending[last + 1].to - pending[first].from < kMaxVoidRange) {
            ++last;
            ids.push_back(pending[last].id);
        }
        const VoidRecord& head = pending[first];
        const long long id = journal.mergeVoids(ids, head.series, head.from, pending[last].to, head.year,
                                                head.reason, kRequested);
        VoidRecord merged = head;
        merged.id = id;
        merged.to = pending[last].to;
        sendRange(ctx, component, journal, merged, tally, tell);
        first = last + 1;
    }
    for (const std::string& refusal : tally.refusals) tell("Inutilização recusada, " + refusal);
    return !tally.unanswered;
}

VoidOutcome voidNumbersByHand(context::AppContext& ctx, fiscal::FiscalComponent& component, long long from,
                              long long to, const std::string& reason) {
    const auto invalid = [](std::string text) { return VoidOutcome{VoidResult::InvalidRequest, std::move(text)}; };
    if (from < 1 || to > 999999999 || from > to)
        return invalid("faixa inválida " + range(from, to) + ": números de 1 a 999999999, o inicial até o final");
    if (to - from + 1 > kMaxVoidRange)
        return invalid("a faixa " + range(from, to) + " tem " + std::to_string(to - from + 1) +
                       " números; a SEFAZ aceita até 10000 por pedido");
    if (const std::string problem = reasonProblem(reason); !problem.empty())
        return invalid("inutilização não enviada: " + problem);
    const int series = settingsSeries(ctx);
    const std::string env = database::sqlEscape(ctx.db->kind(), ctx.settings.Environment);
    // A number a document of this shop carries or may still carry is not voided, whatever the authority says.
    auto inUse = ctx.db->open("SELECT numero, cod_venda, estado FROM quorvanti_attempts WHERE amb = '" + env +
                              "' AND serie = " + std::to_string(series) + " AND numero BETWEEN " +
                              std::to_string(from) + " AND " + std::to_string(to) + " AND estado NOT IN " +
                              kWithoutDocument + " ORDER BY numero LIMIT 1");
    if (inUse.recordCount() > 0)
        return invalid("o número " + inUse.field("numero").text() + " é da venda " + inUse.field("cod_venda").text() +
                       " (" + inUse.field("estado").text() + "): não pode ser inutilizado");

    EventJournal journal(ctx);
    Tally tally;
    std::vector<std::string> lines;
    const auto tell = [&](const std::string& line) { lines.push_back(line); };
    const int year = context::shopNow(ctx).year % 100;
    const std::string text = document::trimBlanks(reason);
    const auto request = [&](long long first, long long last) {
        VoidRecord r{.id = journal.addVoid(series, first, last, year, text, kRequested), .environment = "",
                     .series = series, .from = first, .to = last, .year = year, .reason = text,
                     .state = kRequested, .answer = "", .protocol = "", .created = "", .updated = ""};
        sendRange(ctx, component, journal, r, tally, tell);
    };
    // Earlier requests over the range whose answer was lost go first, as they were; given-up numbers
    // inside it become part of this request; what is voided already is not asked again.
    long long next = from;
    for (const VoidRecord& r : journal.voidsOver(series, from, to)) {
        if (tally.unanswered) break;
        if (r.state == kPending && r.from >= from && r.to <= to) {
            journal.settleVoid(r.id, kRefused, "incluído na inutilização manual " + range(from, to));
            continue;
        }
        if (r.state != kVoided && r.state != kUsed && r.state != kRequested) continue;
        if (r.state == kRequested) sendRange(ctx, component, journal, r, tally, tell);
        if (r.from > next && !tally.unanswered) request(next, r.from - 1);
        next = std::max(next, r.to + 1);
    }
    if (next <= to && !tally.unanswered) request(next, to);
    std::string message = "série " + std::to_string(series) + ", números " + range(from, to) + ": ";
    for (const std::string& line : lines) message += line + "; ";
    if (tally.unanswered)
        return VoidOutcome{VoidResult::NoAnswer, message + "a SEFAZ não respondeu; repita o comando"};
    if (!tally.refusals.empty()) {
        for (const std::string& refusal : tally.refusals) message += "recusado " + refusal + "; ";
        return VoidOutcome{VoidResult::Refused, message};
    }
    if (tally.used > 0) return VoidOutcome{VoidResult::PartlyUsed, message};
    return VoidOutcome{VoidResult::Voided, message + "inutilizados"};
}

std::vector<Gap> gapReport(context::AppContext& ctx) {
    const std::string env = database::sqlEscape(ctx.db->kind(), ctx.settings.Environment);
    const std::string since = utcStamp(ctx.services.clock.utcNow() - std::chrono::hours(24 * 92));
    auto rows = ctx.db->open("SELECT serie, numero, estado, criado FROM quorvanti_attempts WHERE amb = '" + env +
                             "' AND numero > 0 AND criado >= '" + since + "' ORDER BY serie, numero");
    struct Number {
        bool covered = false;
        std::string month;
    };
    std::map<int, std::map<long long, Number>> numbers;
    const std::string withoutDocument = kWithoutDocument;
    for (rows.moveFirst(); !rows.eof(); rows.moveNext()) {
        const std::string estado = rows.field("estado").text();
        Number& n = numbers[static_cast<int>(rows.field("serie").number())]
                           [static_cast<long long>(rows.field("numero").number())];
        n.covered = n.covered || withoutDocument.find("'" + estado + "'") == std::string::npos;
        if (n.month.empty()) n.month = rows.field("criado").text().substr(0, 7);
    }
    EventJournal journal(ctx);
    std::vector<Gap> gaps;
    for (const auto& [series, seen] : numbers) {
        const auto voids = journal.voidsOver(series, seen.begin()->first, seen.rbegin()->first);
        std::string month = seen.begin()->second.month;
        for (long long number = seen.begin()->first; number <= seen.rbegin()->first; ++number) {
            const auto found = seen.find(number);
            if (found != seen.end()) month = found->second.month;
            if (found != seen.end() && found->second.covered) continue;
            std::string what = found == seen.end() ? "sem registro" : "a inutilizar";
            bool settled = false;
            for (const VoidRecord& v : voids) {
                if (v.from > number || v.to < number) continue;
                if (v.state == kVoided || v.state == kUsed) settled = true;
                if (v.state == kRequested) what = "enviada";
                if (v.state == kPending) what = "a inutilizar";
            }
            if (settled) continue;
            if (!gaps.empty() && gaps.back().series == series && gaps.back().to == number - 1 &&
                gaps.back().state == what && gaps.back().month == month) {
                gaps.back().to = number;
            } else {
                gaps.push_back(Gap{.series = series, .month = month, .from = number, .to = number, .state = what});
            }
        }
    }
    return gaps;
}

std::string gapLine(const Gap& gap) {
    return "serie " + std::to_string(gap.series) + ", " + gap.month + ": " + range(gap.from, gap.to) + " (" +
           gap.state + ")";
}

}  // namespace quorvanti::fiscal_events
