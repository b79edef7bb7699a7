#include "authorisation/attempt_journal.h"

#include <algorithm>
#include <sstream>

#include "authorisation/outcome_texts.h"
#include "database/sql_escape.h"
#include "database/transaction.h"
#include "document/text/text_helpers.h"
#include "platform/folders.h"
#include "platform/host_name.h"
#include "platform/ini_file.h"

namespace quorvanti::authorisation {

namespace {

using namespace attempt_state;

constexpr const char* kColumns =
    "id, cod_venda, data_venda, terminal, monitor, amb, serie, numero, chave, tp_emis, estado, motivo, criado, "
    "atualizado";

// States whose number the sale may not carry on another document: the authority has (or may have) it.
bool holdsItsNumber(const std::string& state) {
    return state != kReserved && state != kNotReceived && state != kRejected && state != kSetAside &&
           state != kReleased;
}

long long wholeNumber(const database::DbValue& value) {
    return value.isNull() ? 0 : static_cast<long long>(value.number());
}

std::string twoDigits(long long value) { return (value < 10 ? "0" : "") + std::to_string(value); }

}  // namespace

std::string storedReason(const std::string& reason) { return document::leftCharacters(reason, 400); }

std::string monitorName(const context::AppContext& ctx) {
    return platform::hostName() + ":" + ctx.locations.programFolder;
}

AttemptJournal::AttemptJournal(context::AppContext& ctx) : ctx_(ctx) {}

std::string AttemptJournal::esc(const std::string& value) const { return database::sqlEscape(ctx_.db->kind(), value); }

std::string AttemptJournal::now() const {
    // UTC, so that monitors in different zones write comparable times.
    const auto t = platform::dateTimeAt(ctx_.services.clock.utcNow(), std::chrono::seconds(0));
    return std::to_string(t.year) + "-" + twoDigits(t.month) + "-" + twoDigits(t.day) + " " + twoDigits(t.hour) + ":" +
           twoDigits(t.minute) + ":" + twoDigits(t.second);
}

std::string AttemptJournal::series() const {
    return std::to_string(std::max(0L, std::strtol(ctx_.settings.Series.c_str(), nullptr, 10)));
}

void AttemptJournal::insert(const SaleRef& sale, const std::string& series, long long number, const std::string& key,
                            const std::string& tpEmis, const char* state, const std::string& reason) {
    const auto& s = ctx_.settings;
    const std::string stamp = now();
    ctx_.db->execute(
        "INSERT INTO quorvanti_attempts (cod_venda, data_venda, terminal, monitor, amb, serie, numero, chave, tp_emis, "
        "estado, motivo, criado, atualizado) VALUES ('" + esc(sale.code) + "', '" + esc(sale.date) + "', '" +
        esc(s.Terminal) + "', '" + esc(monitorName(ctx_)) + "', '" + esc(s.Environment) + "', " + series + ", " +
        std::to_string(number) + ", '" + esc(key) + "', '" + esc(tpEmis) + "', '" + state + "', '" +
        esc(storedReason(reason)) + "', '" + stamp + "', '" + stamp + "')");
}

std::string AttemptJournal::saleFilter(const SaleRef& sale) const {
    return "cod_venda = '" + esc(sale.code) + "' AND data_venda = '" + esc(sale.date) + "'";
}

std::vector<Attempt> AttemptJournal::select(const std::string& where) const {
    auto rows = ctx_.db->open(std::string("SELECT ") + kColumns + " FROM quorvanti_attempts WHERE " + where);
    std::vector<Attempt> attempts;
    for (rows.moveFirst(); !rows.eof(); rows.moveNext()) {
        attempts.push_back(Attempt{
            .id = wholeNumber(rows.field("id")),
            .saleCode = rows.field("cod_venda").text(),
            .saleDate = rows.field("data_venda").text(),
            .terminal = rows.field("terminal").text(),
            .monitor = rows.field("monitor").text(),
            .environment = rows.field("amb").text(),
            .series = static_cast<int>(wholeNumber(rows.field("serie"))),
            .number = wholeNumber(rows.field("numero")),
            .key = rows.field("chave").text(),
            .tpEmis = rows.field("tp_emis").text(),
            .state = rows.field("estado").text(),
            .reason = rows.field("motivo").text(),
            .created = rows.field("criado").text(),
            .updated = rows.field("atualizado").text(),
        });
    }
    return attempts;
}

std::vector<Attempt> AttemptJournal::attemptsOf(const SaleRef& sale) const {
    return select(saleFilter(sale) + " ORDER BY id");
}

std::optional<Attempt> AttemptJournal::first(const std::string& where) const {
    auto attempts = select(where + " LIMIT 1");
    if (attempts.empty()) return std::nullopt;
    return attempts.front();
}

std::vector<std::string> AttemptJournal::keysThatMayBeHeld(const SaleRef& sale, bool superseded) const {
    std::vector<std::string> keys;
    const std::string states = std::string("('") + kBuilt + "', '" + kSent + "', '" + kAuthorised + "'" +
                               (superseded ? std::string(", '") + kSuperseded + "'" : "") + ")";
    for (const Attempt& attempt : select(saleFilter(sale) + " AND chave <> '' AND estado IN " + states + " ORDER BY id"))
        keys.push_back(attempt.key);
    return keys;
}

std::optional<Attempt> AttemptJournal::recorded(const SaleRef& sale) const {
    return first(saleFilter(sale) + " AND estado = '" + kRecorded + "' ORDER BY id");
}

bool AttemptJournal::isOwnKey(const SaleRef& sale, const std::string& key) const {
    if (key.size() != 44) return false;
    return !select(saleFilter(sale) + " AND chave = '" + esc(key) + "'").empty();
}

long long AttemptJournal::reserveNumber(const SaleRef& sale, long long wanted) {
    const std::string serie = series();
    const std::string scope = "amb = '" + esc(ctx_.settings.Environment) + "' AND serie = " + serie;
    database::Transaction transaction(*ctx_.db);
    // A document is made for the sale now: it is no longer set aside.
    clearSetAside(sale);
    // The config row serialises the monitors that reserve at the same time (SQLite: the write lock that
    // the transaction took).
    if (ctx_.db->kind() == database::DbKind::MariaDb) (void)ctx_.db->open("SELECT NumeroNFCE FROM config FOR UPDATE");
    const auto usable = [&](long long number) {
        if (number <= 0) return false;
        // A number given up for voiding (or voided) is never carried by a document again.
        const std::string n = std::to_string(number);
        if (ctx_.db->open("SELECT id FROM quorvanti_voids WHERE " + scope + " AND numero_ini <= " + n +
                          " AND numero_fim >= " + n).recordCount() > 0)
            return false;
        for (const Attempt& other : select(scope + " AND numero = " + std::to_string(number))) {
            const bool ownSale = other.saleCode == sale.code && other.saleDate == sale.date;
            // Another sale's number is its own until that sale is dropped.
            if (ownSale ? holdsItsNumber(other.state) : other.state != kReleased) return false;
        }
        return true;
    };
    long long number = 0;
    const auto own = select(saleFilter(sale) + " AND estado <> '" + kSetAside + "' ORDER BY id DESC");
    if (!own.empty() && !holdsItsNumber(own.front().state) && usable(own.front().number)) {
        number = own.front().number;
    } else if (usable(wanted)) {
        number = wanted;
    } else {
        const auto highest = ctx_.db->open("SELECT max(numero) AS highest FROM quorvanti_attempts WHERE " + scope);
        number = std::max(wanted, wholeNumber(highest.field("highest")) + 1);
        while (!usable(number)) ++number;
    }
    const bool alreadyReserved = std::any_of(own.begin(), own.end(), [&](const Attempt& a) {
        return a.number == number && a.state == kReserved;
    });
    if (!alreadyReserved) insert(sale, serie, number, "", "", kReserved, "");
    transaction.commit();
    return number;
}

void AttemptJournal::releaseReservations(const SaleRef& sale) {
    ctx_.db->execute("DELETE FROM quorvanti_attempts WHERE " + saleFilter(sale) + " AND estado = '" + kReserved + "'");
    ctx_.db->execute("UPDATE quorvanti_attempts SET estado = '" + std::string(kReleased) + "', atualizado = '" + now() +
                     "' WHERE " + saleFilter(sale) + " AND estado IN ('" + kRejected + "', '" + kNotReceived + "')");
}

void AttemptJournal::recordKey(const SaleRef& sale, long long number, const std::string& key,
                               const std::string& tpEmis) {
    database::Transaction transaction(*ctx_.db);
    // The reservation becomes the document; a key built again (the same document) is not added twice.
    ctx_.db->execute("DELETE FROM quorvanti_attempts WHERE " + saleFilter(sale) + " AND estado = '" + kReserved +
                     "' AND numero = " + std::to_string(number));
    if (select("chave = '" + esc(key) + "'").empty()) insert(sale, series(), number, key, tpEmis, kBuilt, "");
    transaction.commit();
}

std::string AttemptJournal::stateUpdate(const std::string& key, const char* state, const std::string& reason) const {
    return "UPDATE quorvanti_attempts SET estado = '" + std::string(state) + "', motivo = '" +
           esc(storedReason(reason)) + "', atualizado = '" + now() + "' WHERE chave = '" + esc(key) + "'";
}

void AttemptJournal::setState(const std::string& key, const char* state, const std::string& reason) {
    if (key.empty()) return;
    ctx_.db->execute(stateUpdate(key, state, reason));
}

void AttemptJournal::setAside(const SaleRef& sale, const std::string& reason) {
    database::Transaction transaction(*ctx_.db);
    clearSetAside(sale);
    insert(sale, "0", 0, "", "", kSetAside, reason);
    transaction.commit();
}

void AttemptJournal::clearSetAside(const SaleRef& sale) {
    ctx_.db->execute("DELETE FROM quorvanti_attempts WHERE " + saleFilter(sale) + " AND estado = '" + kSetAside + "'");
}

void AttemptJournal::importLegacyKeys(const std::string& nfceIniPath) {
    if (!platform::fileExists(nfceIniPath)) return;
    // Only at the first start with the journal: from then on every key is journalled before NFCe.ini
    // mentions it, and a large NFCe.ini is not read at every start.
    if (!select("1 = 1 LIMIT 1").empty()) return;
    auto queue = ctx_.db->open("SELECT codvenda, dataV FROM TabNCEAEnviar");
    for (queue.moveFirst(); !queue.eof(); queue.moveNext()) {
        const SaleRef sale{queue.field("codvenda").text(), queue.field("dataV").text()};
        if (sale.code.empty() || sale.date.empty() || !attemptsOf(sale).empty()) continue;
        const std::string section = sale.code + "-" + sale.date;
        std::string keys = platform::iniRead(nfceIniPath, section, "ChavesAnteriores") + " " +
                           platform::iniRead(nfceIniPath, section, "ChaveNFCe");
        std::istringstream words(keys);
        for (std::string key; words >> key;) {
            if (!isAccessKey(key)) continue;
            // The number a key carries: its digits 26 to 34; its type of emission: digit 35.
            recordKey(sale, std::stoll(key.substr(25, 9)), key, key.substr(34, 1));
        }
    }
}

std::vector<Attempt> AttemptJournal::inState(const char* state, int limit) const {
    return select("estado = '" + std::string(state) + "' ORDER BY id DESC LIMIT " + std::to_string(limit));
}

}  // namespace quorvanti::authorisation
