// The shop's dashboard beside the main window in the operator's panel: the queue with each sale's state
// and next try, the last NFC-e authorised today (printed again or cancelled on request) and one looked up
// by number or key, the sales the routine dropped on purpose (from LOG_NFCE.txt) with a way to queue one
// again, the fiscal events waiting (substitutions, voidings, the gaps in the numbering), the contingency
// state, the authority's last status answer and the signing certificate's expiry. Gathered on the monitor
// thread; the result is one JSON value for the panel's snapshot. Secrets (CSC, passwords) are never part
// of it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "context/app_context.h"
#include "fiscal_events/authorised_nfce.h"

namespace quorvanti::monitor {

// Certificates closer than this to their end are shown with a warning.
inline constexpr int kCertificateWarningDays = 30;

// A sale code as the point-of-sale program writes it ("1001-01"): digits, "-", digits.
bool plausibleSaleCode(const std::string& code);

// Sales named by the lines of LOG_NFCE.txt (its last part), newest first, each with its latest line.
struct LoggedSale {
    std::string sale;
    std::string line;
};
std::vector<LoggedSale> salesInLog(const std::string& logText);

class ShopDashboard {
public:
    ShopDashboard(context::AppContext& ctx, std::string certificateFolder)
        : ctx_(ctx), certificateFolder_(std::move(certificateFolder)) {}

    // Gathers everything (each part on its own: a part that fails shows its error) and answers the JSON.
    // The re-queuings and reprints asked for are done first, once the monitor is between polls (never
    // inside a sale, whose statements and printing they would mix with).
    std::string gather();

    // Asks for `sale` to be queued again, the stored NFC-e `key` to be printed again, or cancelled with
    // the justification `reason` (done by the next gather between polls: a cancellation talks to the
    // authority and writes the shared tables, never inside a sale). Answers the note for the operator.
    std::string requestRequeue(const std::string& sale);
    std::string requestReprint(const std::string& key);
    std::string requestCancel(const std::string& key, const std::string& reason);
    // What became of the last request done ("" before any), for the operator.
    const std::string& lastNote() const { return lastNote_; }
    // A re-queuing, reprint or cancellation asked for and not yet done.
    bool hasPending() const { return !pending_.empty(); }
    // The NFC-e shown beside the last one: `query` is its number or its access key ("" shows none).
    void lookUp(const std::string& query) { lookup_ = query; }
    // The fiscal events' part is read again at the next gather (it is otherwise read now and then).
    void refreshFiscal() { fiscalAge_ = 0; }

private:
    // `own`: the rows of the monitor's own queue query.
    std::string queueJson(database::Recordset& own);
    // Sales waiting in the queue that this monitor's query leaves to other terminals.
    std::string otherTerminalsJson(database::Recordset& own);
    std::string lastNfceJson();
    std::string lookupJson();
    std::string droppedJson();
    std::string fiscalJson();
    std::string certificateJson();
    // An authorised NFC-e as the page offers it for cancelling; `extra` holds the caller's members.
    std::string nfceJson(const std::optional<fiscal_events::AuthorisedNfce>& nfce, std::string extra);
    // Inserts the queue row as the point-of-sale program does; answers what happened.
    std::string requeue(const std::string& sale);
    std::string reprint(const std::string& key);
    std::string cancel(const std::string& key, const std::string& reason);

    context::AppContext& ctx_;
    std::string certificateFolder_;
    enum class Action { Requeue, Reprint, Cancel };
    struct Pending {
        Action action = Action::Requeue;
        std::string target;  // the sale code or the access key
        std::string reason;  // a cancellation's justification
        friend bool operator==(const Pending&, const Pending&) = default;
    };
    std::vector<Pending> pending_;
    bool doing_ = false;  // the requests are being done (a print in progress)
    std::string lastNote_;
    std::string certificateCache_;
    int certificateAge_ = 0;
    std::string lookup_;
    std::string fiscalCache_ = "null";
    int fiscalAge_ = 0;
};

}  // namespace quorvanti::monitor
