// The shop's dashboard beside the main window in the operator's panel: the queue with each sale's state
// and next try, the last NFC-e authorised today (printed again on request), the sales the routine
// dropped on purpose (from LOG_NFCE.txt) with a way to queue one again, the contingency state, the
// authority's last status answer and the signing certificate's expiry. Gathered on the monitor thread;
// the result is one JSON value for the panel's snapshot. Secrets (CSC, passwords) are never part of it.
#pragma once

#include <string>
#include <vector>

#include "context/app_context.h"

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

    // Asks for `sale` to be queued again, or the stored NFC-e `key` to be printed again (done by the
    // next gather between polls). Answers the note for the operator.
    std::string requestRequeue(const std::string& sale);
    std::string requestReprint(const std::string& key);
    // A re-queuing or reprint asked for and not yet done.
    bool hasPending() const { return !pending_.empty(); }

private:
    // `own`: the rows of the monitor's own queue query.
    std::string queueJson(database::Recordset& own);
    // Sales waiting in the queue that this monitor's query leaves to other terminals.
    std::string otherTerminalsJson(database::Recordset& own);
    std::string lastNfceJson();
    std::string droppedJson();
    std::string certificateJson();
    // Inserts the queue row as the point-of-sale program does; answers what happened.
    std::string requeue(const std::string& sale);
    std::string reprint(const std::string& key);

    context::AppContext& ctx_;
    std::string certificateFolder_;
    struct Pending {
        bool reprint = false;
        std::string target;  // the sale code or the access key
        friend bool operator==(const Pending&, const Pending&) = default;
    };
    std::vector<Pending> pending_;
    std::string lastNote_;
    std::string certificateCache_;
    int certificateAge_ = 0;
};

}  // namespace quorvanti::monitor
