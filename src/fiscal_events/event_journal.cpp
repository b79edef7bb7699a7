#include "fiscal_events/event_journal.h"

#include "authorisation/attempt_journal.h"
#include "database/sql_escape.h"
#include "database/transaction.h"
#include "platform/clock.h"

namespace quorvanti::fiscal_events {

namespace {

constexpr const char* kEventColumns =
    "id, chave, tp_evento, n_seq, chave_ref, amb, justificativa, estado, motivo, protocolo, monitor, criado, atualizado";
constexpr const char* kVoidColumns =
    "id, amb, serie, numero_ini, numero_fim, ano, justificativa, estado, motivo, protocolo, criado, atualizado";

long long wholeNumber(const database::DbValue& value) {
    return value.isNull() ? 0 : static_cast<long long>(value.number());
}

using authorisation::storedReason;

std::string twoDigits(int value) { return (value < 10 ? "0" : "") + std::to_string(value); }

}  // namespace

EventJournal::EventJournal(context::AppContext& ctx) : ctx_(ctx) {}

std::string EventJournal::esc(const std::string& value) const { return database::sqlEscape(ctx_.db->kind(), value); }

std::string utcStamp(std::chrono::sys_seconds instant) {
    const auto t = platform::dateTimeAt(instant, std::chrono::seconds(0));
    return std::to_string(t.year) + "-" + twoDigits(t.month) + "-" + twoDigits(t.day) + " " + twoDigits(t.hour) + ":" +
           twoDigits(t.minute) + ":" + twoDigits(t.second);
}

std::string EventJournal::now() const { return utcStamp(ctx_.services.clock.utcNow()); }

long long EventJournal::lastId(const std::string& table, const std::string& where) const {
    return wholeNumber(ctx_.db->open("SELECT max(id) AS id FROM " + table + " WHERE " + where).field("id"));
}

std::vector<EventRecord> EventJournal::selectEvents(const std::string& where) const {
    auto rows = ctx_.db->open(std::string("SELECT ") + kEventColumns + " FROM quorvanti_events WHERE " + where);
    std::vector<EventRecord> events;
    for (rows.moveFirst(); !rows.eof(); rows.moveNext()) {
        events.push_back(EventRecord{
            .id = wholeNumber(rows.field("id")),
            .key = rows.field("chave").text(),
            .tpEvento = static_cast<int>(wholeNumber(rows.field("tp_evento"))),
            .nSeq = static_cast<int>(wholeNumber(rows.field("n_seq"))),
            .refKey = rows.field("chave_ref").text(),
            .environment = rows.field("amb").text(),
            .reason = rows.field("justificativa").text(),
            .state = rows.field("estado").text(),
            .answer = rows.field("motivo").text(),
            .protocol = rows.field("protocolo").text(),
            .monitor = rows.field("monitor").text(),
            .created = rows.field("criado").text(),
            .updated = rows.field("atualizado").text(),
        });
    }
    return events;
}

std::optional<EventRecord> EventJournal::find(const std::string& key, int tpEvento) const {
    auto events = selectEvents("chave = '" + esc(key) + "' AND tp_evento = " + std::to_string(tpEvento) +
                               " ORDER BY id DESC LIMIT 1");
    if (events.empty()) return std::nullopt;
    return events.front();
}

std::vector<EventRecord> EventJournal::eventsIn(const char* state) const {
    return selectEvents("estado = '" + std::string(state) + "' AND amb = '" + esc(ctx_.settings.Environment) +
                        "' ORDER BY id");
}

long long EventJournal::request(const std::string& key, int tpEvento, const std::string& refKey,
                                const std::string& reason) {
    const std::string stamp = now();
    ctx_.db->execute("INSERT INTO quorvanti_events (chave, tp_evento, n_seq, chave_ref, amb, justificativa, estado, "
                     "motivo, protocolo, monitor, criado, atualizado) VALUES ('" +
                     esc(key) + "', " + std::to_string(tpEvento) + ", 1, '" + esc(refKey) + "', '" +
                     esc(ctx_.settings.Environment) + "', '" + esc(reason) + "', '" + request_state::kRequested +
                     "', '', '', '" + esc(authorisation::monitorName(ctx_)) + "', '" + stamp + "', '" + stamp + "')");
    return lastId("quorvanti_events", "chave = '" + esc(key) + "' AND tp_evento = " + std::to_string(tpEvento));
}

std::string EventJournal::settleStatement(long long id, const char* state, const std::string& answer,
                                          const std::string& protocol) const {
    return "UPDATE quorvanti_events SET estado = '" + std::string(state) + "', motivo = '" + esc(storedReason(answer)) +
           "', protocolo = '" + esc(protocol) + "', atualizado = '" + now() + "' WHERE id = " + std::to_string(id);
}

void EventJournal::settle(long long id, const char* state, const std::string& answer, const std::string& protocol) {
    ctx_.db->execute(settleStatement(id, state, answer, protocol));
}

std::vector<VoidRecord> EventJournal::selectVoids(const std::string& where) const {
    auto rows = ctx_.db->open(std::string("SELECT ") + kVoidColumns + " FROM quorvanti_voids WHERE " + where);
    std::vector<VoidRecord> voids;
    for (rows.moveFirst(); !rows.eof(); rows.moveNext()) {
        voids.push_back(VoidRecord{
            .id = wholeNumber(rows.field("id")),
            .environment = rows.field("amb").text(),
            .series = static_cast<int>(wholeNumber(rows.field("serie"))),
            .from = wholeNumber(rows.field("numero_ini")),
            .to = wholeNumber(rows.field("numero_fim")),
            .year = static_cast<int>(wholeNumber(rows.field("ano"))),
            .reason = rows.field("justificativa").text(),
            .state = rows.field("estado").text(),
            .answer = rows.field("motivo").text(),
            .protocol = rows.field("protocolo").text(),
            .created = rows.field("criado").text(),
            .updated = rows.field("atualizado").text(),
        });
    }
    return voids;
}

std::vector<VoidRecord> EventJournal::voidsIn(const char* state) const {
    return selectVoids("estado = '" + std::string(state) + "' AND amb = '" + esc(ctx_.settings.Environment) +
                       "' ORDER BY serie, ano, numero_ini");
}

std::vector<VoidRecord> EventJournal::recentlySettledVoids(std::size_t most) const {
    // The stamps are UTC "yyyy-mm-dd hh:mm:ss": their text order is their time order, on both servers.
    return selectVoids("amb = '" + esc(ctx_.settings.Environment) + "' AND estado IN ('" + request_state::kVoided +
                       "', '" + request_state::kUsed + "', '" + request_state::kRefused +
                       "') ORDER BY atualizado DESC, id DESC LIMIT " + std::to_string(most));
}

std::vector<VoidRecord> EventJournal::voidsOver(int series, long long from, long long to) const {
    return selectVoids("amb = '" + esc(ctx_.settings.Environment) + "' AND serie = " + std::to_string(series) +
                       " AND numero_ini <= " + std::to_string(to) + " AND numero_fim >= " + std::to_string(from) +
                       " ORDER BY numero_ini");
}

long long EventJournal::addVoid(int series, long long from, long long to, int year, const std::string& reason,
                                const char* state, const std::string& answer) {
    const std::string stamp = now();
    const std::string environment = esc(ctx_.settings.Environment);
    ctx_.db->execute("INSERT INTO quorvanti_voids (amb, serie, numero_ini, numero_fim, ano, justificativa, estado, "
                     "motivo, protocolo, criado, atualizado) VALUES ('" + environment + "', " +
                     std::to_string(series) + ", " + std::to_string(from) + ", " + std::to_string(to) + ", " +
                     std::to_string(year) + ", '" + esc(reason) + "', '" + state + "', '" +
                     esc(storedReason(answer)) + "', '', '" + stamp + "', '" + stamp + "')");
    return lastId("quorvanti_voids", "amb = '" + environment + "' AND serie = " + std::to_string(series) +
                                         " AND numero_ini = " + std::to_string(from));
}

void EventJournal::settleVoid(long long id, const char* state, const std::string& answer, const std::string& protocol) {
    ctx_.db->execute("UPDATE quorvanti_voids SET estado = '" + std::string(state) + "', motivo = '" +
                     esc(storedReason(answer)) + "', protocolo = '" + esc(protocol) + "', atualizado = '" +
                     now() + "' WHERE id = " + std::to_string(id));
}

long long EventJournal::mergeVoids(const std::vector<long long>& ids, int series, long long from, long long to,
                                   int year, const std::string& reason, const char* state) {
    database::Transaction transaction(*ctx_.db);
    for (long long id : ids) ctx_.db->execute("DELETE FROM quorvanti_voids WHERE id = " + std::to_string(id));
    const long long merged = addVoid(series, from, to, year, reason, state);
    transaction.commit();
    return merged;
}

void EventJournal::splitVoid(const VoidRecord& range) {
    const long long middle = range.from + (range.to - range.from) / 2;
    database::Transaction transaction(*ctx_.db);
    ctx_.db->execute("DELETE FROM quorvanti_voids WHERE id = " + std::to_string(range.id));
    addVoid(range.series, range.from, middle, range.year, range.reason, request_state::kRequested);
    addVoid(range.series, middle + 1, range.to, range.year, range.reason, request_state::kRequested);
    transaction.commit();
}

}  // namespace quorvanti::fiscal_events
