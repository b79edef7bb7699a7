#include "monitor/shop_dashboard.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <cstdio>
#include <exception>
#include <fstream>
#include <regex>
#include <set>
#include <utility>

#include "authorisation/attempt_journal.h"
#include "authorisation/outcome_texts.h"
#include "context/shop_clock.h"
#include "database/date_literal.h"
#include "database/sql_escape.h"
#include "context/program_files.h"
#include "document/component_setup.h"
#include "document/text/vb_conversions.h"
#include "fiscal_component/certificates/certificate_store.h"
#include "fiscal_events/authorised_nfce.h"
#include "fiscal_events/cancellation.h"
#include "fiscal_events/event_journal.h"
#include "fiscal_events/number_voiding.h"
#include "monitor/stored_receipt.h"
#include "platform/folders.h"
#include "platform/text_encoding.h"
#include "platform/ui/web_frontend.h"

namespace quorvanti::monitor {

namespace {

using platform::jsonQuote;

// Only the end of the log is read: it grows for ever, and the panel shows recent drops.
constexpr std::streamoff kLogTail = 64 * 1024;
constexpr std::size_t kMostDropped = 20;
constexpr std::size_t kMostLooked = 60;  // logged sales looked up in the database per gathering
constexpr int kCertificateEvery = 30;     // gatherings between two readings of the certificate store
constexpr std::size_t kMostQueued = 200;  // rows of the queue shown; the count says how many there are
// The fiscal events change seldom and their gap report reads the whole attempt journal: read every
// minute or so, and at once after a cancellation or a refresh.
constexpr int kFiscalEvery = 30;
constexpr int kMostFiscalRows = 20;

std::string two(int n) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", n);
    return text;
}

std::string dateTimeText(const context::RunSettings& s, platform::Instant instant) {
    return context::brazilianDateTimeText(platform::dateTimeAt(instant, context::shopOffset(s)));
}

// The journals' UTC stamps ("yyyy-mm-dd hh:mm:ss") in the shop's time, as every date of the page.
std::string stampText(const context::RunSettings& s, const std::string& stamp) {
    platform::LocalDateTime t;
    if (std::sscanf(stamp.c_str(), "%d-%d-%d %d:%d:%d", &t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second) != 6)
        return stamp;
    return dateTimeText(s, platform::instantOf(t, std::chrono::seconds(0)));
}

const char* voidStateText(const std::string& state) {
    namespace rs = fiscal_events::request_state;
    if (state == rs::kPending) return "a inutilizar";
    if (state == rs::kRequested) return "pedida, aguardando a SEFAZ";
    if (state == rs::kVoided) return "inutilizada";
    if (state == rs::kUsed) return "número já usado";
    if (state == rs::kRefused) return "recusada";
    return "?";
}

std::string failureJson(const std::exception& error) { return "{\"error\":" + jsonQuote(error.what()) + "}"; }

std::string readLogTail(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    const std::streamoff from = size > kLogTail ? size - kLogTail : 0;
    in.seekg(from);
    std::string bytes(static_cast<std::size_t>(size - from), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    // A tail cut inside a line starts at the next one.
    if (from > 0) {
        const auto newline = bytes.find('\n');
        bytes = newline == std::string::npos ? "" : bytes.substr(newline + 1);
    }
    return platform::windows1252ToUtf8(bytes);
}

}  // namespace

bool plausibleSaleCode(const std::string& code) {
    static const std::regex pattern("[0-9]{1,20}-[0-9]{1,4}");
    return code.size() <= 30 && std::regex_match(code, pattern);
}

std::vector<LoggedSale> salesInLog(const std::string& logText) {
    // The routine's lines name the sale between " - " separators or after "operação: ".
    static const std::regex sale("(?:^| - |operação: )([0-9]{1,20}-[0-9]{1,4})(?= |$)");
    std::vector<LoggedSale> newestFirst;
    std::set<std::string> seen;
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < logText.size()) {
        std::size_t end = logText.find('\n', start);
        if (end == std::string::npos) end = logText.size();
        std::string line = logText.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(std::move(line));
        start = end + 1;
    }
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        std::smatch match;
        if (!std::regex_search(*it, match, sale)) continue;
        if (seen.insert(match[1].str()).second) newestFirst.push_back({match[1].str(), *it});
    }
    return newestFirst;
}

std::string ShopDashboard::requestRequeue(const std::string& sale) {
    if (std::ranges::find(pending_, Pending{Action::Requeue, sale, ""}) == pending_.end())
        pending_.push_back({Action::Requeue, sale, ""});
    return "Venda " + sale + ": recolocação pedida";
}

std::string ShopDashboard::requestReprint(const std::string& key) {
    pending_.push_back({Action::Reprint, key, ""});  // each press is one more copy
    return "NFC-e " + key + ": reimpressão pedida";
}

std::string ShopDashboard::requestCancel(const std::string& key, const std::string& reason) {
    // A second press while the first waits would only be a second event for the same document.
    if (std::ranges::none_of(pending_, [&](const Pending& p) { return p.action == Action::Cancel && p.target == key; }))
        pending_.push_back({Action::Cancel, key, reason});
    return "NFC-e " + key + ": cancelamento pedido";
}

std::string ShopDashboard::cancel(const std::string& key, const std::string& reason) {
    std::string note;
    try {
        std::unique_ptr<fiscal::FiscalComponent> component;
        if (!document::ConfigurarDLL(ctx_, 65, "1", component) || !component) {
            note = "NFC-e " + key + " não foi cancelada: o componente fiscal não pôde ser configurado";
        } else {
            note = fiscal_events::cancelNFCe(ctx_, *component, key, reason).message;
        }
    } catch (const std::exception& error) {
        note = "NFC-e " + key + " não foi cancelada: " + error.what();
    }
    context::GravaLog(ctx_, "Cancelamento " + key + ": " + note);
    fiscalAge_ = 0;
    return note;
}

std::string ShopDashboard::reprint(const std::string& key) {
    if (!platform::fileExists(storedProcNFePath(ctx_, key))) return "Nenhuma NFC-e autorizada gravada com a chave " + key;
    const StoredPrint print = printStoredNFCe(ctx_, key);
    if (!print.printed) return "O DANFE NFC-e " + key + " não foi impresso: " + print.problem;
    return "DANFE NFC-e " + key + " impresso novamente";
}

std::string ShopDashboard::requeue(const std::string& sale) {
    auto& db = *ctx_.db;
    const auto esc = [&](const std::string& value) { return database::sqlEscape(db.kind(), value); };
    try {
        if (db.open("Select codvenda from TabNCEAEnviar where codvenda = '" + esc(sale) + "'").recordCount() > 0)
            return "Venda " + sale + " já está na fila";
        // A sale with its NFC-e must never be sent again: that would be a second document for it.
        if (db.open("Select cod_venda from nfce_gerada where cod_venda = '" + esc(sale) + "'").recordCount() > 0)
            return "Venda " + sale + " já tem NFC-e gerada: não foi recolocada na fila";
        auto items = db.open("Select Data from VendasConclu where CodigoVenda = '" + esc(sale) + "'");
        if (items.recordCount() == 0) return "Venda " + sale + " não encontrada em VendasConclu";
        const std::string date = database::dateLiteral(items.field("Data").text(), database::dateQuote(db.kind()),
                                                       database::dateFormat(db.kind()));
        const std::string terminal = document::integerText(document::Val("0" + ctx_.settings.Terminal));
        db.execute("insert into TabNCEAEnviar (codvenda, enviada, dataV, corpoXML, Serv_ImpresNFCE) values ('" +
                   esc(sale) + "', 'enviar', " + date + ", '<NFe/>', '" + esc(terminal) + "')");
        ctx_.retries.forget(sale);
        return "Venda " + sale + " recolocada na fila";
    } catch (const std::exception& error) {
        return "Venda " + sale + " não foi recolocada: " + error.what();
    }
}

std::string ShopDashboard::queueJson(database::Recordset& rows) {
    const auto now = ctx_.services.clock.steadyNow();
    // Sales set aside (a value over the limit, data that cannot make a document) say why, also after a
    // restart, before their next try.
    std::map<std::string, std::string> setAside;
    for (const auto& attempt : authorisation::AttemptJournal(ctx_).inState(authorisation::attempt_state::kSetAside, 200))
        setAside.emplace(attempt.saleCode, attempt.reason);
    std::string out = "[";
    std::size_t shown = 0;
    for (rows.moveFirst(); !rows.eof() && shown++ < kMostQueued; rows.moveNext()) {
        const std::string sale = rows.field("codvenda").text();
        const auto due = ctx_.retries.dueAt(sale);
        const bool waiting = due.count() > 0 && due > now;
        std::string failure = ctx_.retries.lastFailure(sale);
        if (failure.empty() && setAside.count(sale)) failure = setAside[sale];
        const bool contingency = !rows.field("DataContigencia").text().empty();
        // A clock time, not a countdown: the row stays the same until something happens to the sale.
        std::string retryAt;
        if (waiting) {
            try {
                const auto at = platform::addSeconds(context::shopNow(ctx_), (due - now).count() / 1000 + 1);
                retryAt = context::brazilianDateTimeText(at);
            } catch (const std::exception&) {
            }
        }
        out += (out.size() > 1 ? ",{" : "{");
        out += "\"sale\":" + jsonQuote(sale) + ",\"date\":" + jsonQuote(rows.field("dataV").text()) +
               ",\"state\":" +
               jsonQuote(waiting ? "aguardando nova tentativa"
                                 : (failure.empty() ? "na fila" : "nova tentativa na próxima consulta")) +
               ",\"contingency\":" + (contingency ? "true" : "false") + ",\"failure\":" + jsonQuote(failure) +
               ",\"retryAt\":" + jsonQuote(retryAt) + "}";
    }
    return out + "]";
}

std::string ShopDashboard::otherTerminalsJson(database::Recordset& own) {
    std::set<std::string> mine;
    for (own.moveFirst(); !own.eof(); own.moveNext()) mine.insert(own.field("codvenda").text());
    auto waiting = ctx_.db->open("Select codvenda from TabNCEAEnviar where enviada = 'enviar'");
    long others = 0;
    for (waiting.moveFirst(); !waiting.eof(); waiting.moveNext()) others += mine.count(waiting.field("codvenda").text()) == 0;
    return std::to_string(others);
}

std::string ShopDashboard::lastNfceJson() {
    const std::string today = [&] {
        const auto t = context::shopNow(ctx_);
        return two(t.day) + "/" + two(t.month) + "/" + std::to_string(t.year);
    }();
    auto& db = *ctx_.db;
    const std::string stored = database::dateForStoring(db.kind(), today, "");
    // The shop's nfce_gerada has no row identifier, and its numbers are stored as text ("9" after "10"):
    // the newest is the highest number, found here.
    auto rows = db.open("Select numeronfce, cod_venda, chave, protocoloEdata, cpf_cli, amb from nfce_gerada where dataG = '" +
                        database::sqlEscape(db.kind(), stored) + "'");
    if (rows.recordCount() == 0) return "null";
    std::string newest, newestKey;
    double highest = -1;
    for (rows.moveFirst(); !rows.eof(); rows.moveNext()) {
        const auto text = [&](const char* column) { return jsonQuote(rows.field(column).text()); };
        const double number = document::Val(rows.field("numeronfce").text());
        if (number <= highest) continue;
        highest = number;
        newestKey = rows.field("chave").text();
        newest = "{\"number\":" + text("numeronfce") + ",\"sale\":" + text("cod_venda") + ",\"key\":" + text("chave") +
                 ",\"protocol\":" + text("protocoloEdata") + ",\"consumer\":" + text("cpf_cli") +
                 ",\"environment\":" + text("amb");
    }
    return nfceJson(fiscal_events::findAuthorised(ctx_, newestKey), newest + ",\"today\":" + std::to_string(rows.recordCount()));
}

std::string ShopDashboard::nfceJson(const std::optional<fiscal_events::AuthorisedNfce>& nfce, std::string extra) {
    if (!nfce) return extra + ",\"stored\":false}";
    const auto left = fiscal_events::minutesLeftToCancel(ctx_, *nfce);
    std::string authorisedAt = nfce->authorisedAt;
    if (const auto at = context::readShopDateTime(ctx_.settings, nfce->authorisedAt)) authorisedAt = dateTimeText(ctx_.settings, *at);
    return extra + ",\"stored\":true,\"amount\":" + jsonQuote(nfce->amount) + ",\"authorisedAt\":" +
           jsonQuote(authorisedAt) + ",\"cancelled\":" + (nfce->cancelled ? "true" : "false") +
           ",\"window\":" + std::to_string(fiscal_events::cancellationWindowMinutes(ctx_)) +
           ",\"minutesLeft\":" + (left ? std::to_string(*left) : "null") + "}";
}

std::string ShopDashboard::lookupJson() {
    if (lookup_.empty()) return "null";
    std::string key = lookup_;
    if (!authorisation::isAccessKey(key)) {
        key = fiscal_events::keyOfNumber(ctx_, std::stoll(lookup_));
        if (key.empty())
            return "{\"query\":" + jsonQuote(lookup_) + ",\"problem\":" +
                   jsonQuote("Nenhuma NFC-e número " + lookup_ + " neste ambiente") + "}";
    }
    auto& db = *ctx_.db;
    auto row = db.open("Select numeronfce, cod_venda, protocoloEdata from nfce_gerada where chave = '" +
                       database::sqlEscape(db.kind(), key) + "'");
    std::string extra = "{\"query\":" + jsonQuote(lookup_) + ",\"key\":" + jsonQuote(key);
    if (row.recordCount() > 0)
        extra += ",\"number\":" + jsonQuote(row.field("numeronfce").text()) + ",\"sale\":" +
                 jsonQuote(row.field("cod_venda").text()) + ",\"protocol\":" + jsonQuote(row.field("protocoloEdata").text());
    const auto nfce = fiscal_events::findAuthorised(ctx_, key);
    if (!nfce) return extra + ",\"problem\":" + jsonQuote("Nenhuma NFC-e autorizada gravada com a chave " + key) + "}";
    return nfceJson(nfce, extra);
}

std::string ShopDashboard::fiscalJson() {
    const auto& s = ctx_.settings;
    std::string out = "{\"substitutions\":[";
    bool first = true;
    for (const auto& a :
         authorisation::AttemptJournal(ctx_).inState(authorisation::attempt_state::kSuperseded, kMostFiscalRows)) {
        out += (first ? "{" : ",{") + std::string("\"sale\":") + jsonQuote(a.saleCode) +
               ",\"number\":" + std::to_string(a.number) + ",\"key\":" + jsonQuote(a.key) +
               ",\"since\":" + jsonQuote(stampText(s, a.updated)) + ",\"reason\":" + jsonQuote(a.reason) + "}";
        first = false;
    }
    out += "],\"voids\":[";
    first = true;
    fiscal_events::EventJournal journal(ctx_);
    auto voids = journal.voidsIn(fiscal_events::request_state::kPending);
    for (auto& v : journal.voidsIn(fiscal_events::request_state::kRequested)) voids.push_back(std::move(v));
    for (auto& v : journal.recentlySettledVoids(kMostFiscalRows)) voids.push_back(std::move(v));
    for (const auto& v : voids) {
        out += (first ? "{" : ",{") + std::string("\"series\":") + std::to_string(v.series) +
               ",\"from\":" + std::to_string(v.from) + ",\"to\":" + std::to_string(v.to) +
               ",\"state\":" + jsonQuote(voidStateText(v.state)) + ",\"answer\":" + jsonQuote(v.answer) +
               ",\"at\":" + jsonQuote(stampText(s, v.updated)) + "}";
        first = false;
    }
    out += "],\"gaps\":[";
    first = true;
    int shown = 0;
    for (const auto& gap : fiscal_events::gapReport(ctx_)) {
        if (shown++ == kMostFiscalRows) break;
        out += (first ? "" : ",") + jsonQuote(fiscal_events::gapLine(gap));
        first = false;
    }
    return out + "]}";
}

std::string ShopDashboard::droppedJson() {
    const auto logged = salesInLog(readLogTail(ctx_.settings.LogPath));
    auto& db = *ctx_.db;
    std::string out = "[";
    std::size_t shown = 0, looked = 0;
    for (const auto& entry : logged) {
        if (shown == kMostDropped || looked++ == kMostLooked) break;
        const std::string code = database::sqlEscape(db.kind(), entry.sale);
        // Still queued, or authorised after all: not dropped.
        if (db.open("Select codvenda from TabNCEAEnviar where codvenda = '" + code + "'").recordCount() > 0) continue;
        if (db.open("Select cod_venda from nfce_gerada where cod_venda = '" + code + "'").recordCount() > 0) continue;
        out += (shown++ ? ",{" : "{");
        out += "\"sale\":" + jsonQuote(entry.sale) + ",\"reason\":" + jsonQuote(entry.line) + "}";
    }
    return out + "]";
}

std::string ShopDashboard::certificateJson() {
    const auto& s = ctx_.settings;
    const std::string serial = s.ComponentCertificateSerial.empty() ? s.CertificateSerial : s.ComponentCertificateSerial;
    if (serial.empty()) return "{\"problem\":\"nenhum certificado configurado\"}";
    fiscal::CertificateStore store(certificateFolder_);
    for (const auto& info : store.list()) {
        if (fiscal::normalizedSerial(info.serialNumber) != fiscal::normalizedSerial(serial)) continue;
        int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
        long daysLeft = 0;
        if (std::sscanf(info.validUntil.c_str(), "%d/%d/%d %d:%d:%d", &day, &month, &year, &hour, &minute, &second) == 6) {
            const auto until = platform::instantOf({year, month, day, hour, minute, second}, std::chrono::seconds(0));
            daysLeft = static_cast<long>(
                std::chrono::floor<std::chrono::days>(until - ctx_.services.clock.utcNow()).count());
        }
        const bool warning = info.expired || daysLeft < kCertificateWarningDays;
        return "{\"holder\":" + jsonQuote(info.holderName) + ",\"serial\":" + jsonQuote(info.serialNumber) +
               ",\"validUntil\":" + jsonQuote(info.validUntil) + ",\"daysLeft\":" + std::to_string(daysLeft) +
               ",\"expired\":" + (info.expired ? "true" : "false") + ",\"warning\":" + (warning ? "true" : "false") +
               "}";
    }
    return "{\"problem\":" + jsonQuote("certificado de série " + serial + " não encontrado em " + certificateFolder_) + "}";
}

std::string ShopDashboard::gather() {
    const auto part = [](const std::function<std::string()>& make) {
        try {
            return make();
        } catch (const std::exception& error) {
            return failureJson(error);
        }
    };
    const bool betweenPolls = ctx_.mainWindow.Timer1.enabled;
    const bool haveDatabase = ctx_.db != nullptr;
    // Writes wait for the end of a batch, outside any sale's statements.
    if (haveDatabase && betweenPolls && !doing_) {
        // Taken out first: a print's pauses run the page's commands, which add requests (and gather
        // again); those wait for the next gathering instead of being lost or done inside this one.
        // Timer1 is off meanwhile, as for a batch: a poll started in those pauses would emit a sale
        // inside the half-printed receipt, on the same printer object and receipt data.
        doing_ = true;
        ctx_.mainWindow.Timer1.enabled = false;
        struct Done {
            bool& doing;
            bool& polling;
            ~Done() {
                doing = false;
                polling = true;
            }
        } done{doing_, ctx_.mainWindow.Timer1.enabled};
        for (const auto& p : std::exchange(pending_, {})) {
            switch (p.action) {
                case Action::Requeue: lastNote_ = requeue(p.target); break;
                case Action::Reprint: lastNote_ = reprint(p.target); break;
                case Action::Cancel: lastNote_ = cancel(p.target, p.reason); break;
            }
        }
    }
    if (certificateAge_-- <= 0) {
        certificateCache_ = part([&] { return certificateJson(); });
        certificateAge_ = kCertificateEvery;
    }
    const auto& s = ctx_.settings;
    std::string out = "{\"database\":" + std::string(haveDatabase ? "true" : "false");
    if (haveDatabase) {
        // The monitor's own query, read once for the parts that show it: rows of other terminals are not
        // this monitor's work. A failed read fails each of those parts alike.
        std::optional<database::Recordset> own;
        const auto ownQueue = [&]() -> database::Recordset& {
            if (!own) own = ctx_.db->open(ctx_.settings.QueueSql);
            return *own;
        };
        out += ",\"queue\":" + part([&] { return queueJson(ownQueue()); });
        out += ",\"queued\":" + part([&] { return std::to_string(ownQueue().recordCount()); });
        out += ",\"otherTerminals\":" + part([&] { return otherTerminalsJson(ownQueue()); });
        out += ",\"lastNfce\":" + part([&] { return lastNfceJson(); });
        out += ",\"found\":" + part([&] { return lookupJson(); });
        out += ",\"dropped\":" + part([&] { return droppedJson(); });
        if (fiscalAge_-- <= 0) {
            fiscalCache_ = part([&] { return fiscalJson(); });
            fiscalAge_ = kFiscalEvery;
        }
        out += ",\"fiscal\":" + fiscalCache_;
    }
    out += ",\"contingency\":" + jsonQuote(s.Contingency == "1" ? "CONTIGENCIA" : "NORMAL");
    out += ",\"contingencySender\":" + std::string(s.ContingencySender == "1" ? "true" : "false");
    out += ",\"serviceStatus\":" + jsonQuote(ctx_.lastServiceStatus) + ",\"serviceStatusAt\":" +
           jsonQuote(ctx_.lastServiceStatusAt);
    out += ",\"certificate\":" + certificateCache_;
    out += ",\"pending\":" + std::to_string(pending_.size());
    // No gathering time: an unchanged dashboard must publish nothing, or an idle page would get the whole
    // state every two seconds.
    out += ",\"note\":" + jsonQuote(lastNote_) + "}";
    return out;
}

}  // namespace quorvanti::monitor
