// Voiding (inutilização) of NFC-e numbers no document will carry: by hand for a range, and for the
// numbers the monitor gave up (their attempts all ended without the authority keeping a document, a
// later number is in use, and nothing touched them for 30 minutes) automatically, in ranges of at most
// 10 000 numbers. Every range is journalled before it is sent; a range the authority refuses because
// one of its numbers is used (241) or already voided (256) is split in halves until each number's own
// answer is known. The gap report lists the numbers neither used nor voided.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "context/app_context.h"
#include "fiscal_component/interface/fiscal_component.h"

namespace quorvanti::fiscal_events {

inline constexpr long long kMaxVoidRange = 10000;

enum class VoidResult {
    Voided,          // every number of the range is voided (now or before)
    PartlyUsed,      // the authority holds documents under some numbers: the others are voided
    Refused,         // the authority refused the request (other statuses)
    NoAnswer,        // no answer: the request stays journalled and is sent again
    InvalidRequest,  // a range or justification the authority would refuse
};

struct VoidOutcome {
    VoidResult result = VoidResult::Refused;
    std::string message;
};

// Voids [from, to] of the settings' series in the settings' environment, numbers of the current year.
VoidOutcome voidNumbersByHand(context::AppContext& ctx, fiscal::FiscalComponent& component, long long from,
                              long long to, const std::string& reason);

// Adds the numbers given up since the last look to the numbers to void (one query; no call).
void collectGivenUpNumbers(context::AppContext& ctx);

// True when numbers wait to be voided: given up, or a request whose answer was lost.
bool voidingWaits(context::AppContext& ctx);

// Sends every range waiting to be voided; `tell` receives one line per range settled. Answers false when
// the authority did not answer.
bool voidWaitingNumbers(context::AppContext& ctx, fiscal::FiscalComponent& component,
                        const std::function<void(const std::string&)>& tell);

// Both: collects the given-up numbers, then voids what waits.
bool voidGivenUpNumbers(context::AppContext& ctx, fiscal::FiscalComponent& component,
                        const std::function<void(const std::string&)>& tell);

// Adds `number` (of the settings' series, a document of year `year`, two digits) to the numbers to void.
void giveUpNumber(context::AppContext& ctx, long long number, int year, const std::string& why);

// A run of numbers neither authorised (or denied, cancelled, in progress) nor voided.
struct Gap {
    int series = 0;
    std::string month;  // "yyyy-mm" of the attempts around it
    long long from = 0, to = 0;
    std::string state;  // "a inutilizar" (given up, queued), "enviada" (request sent), "sem registro"
};

// The gaps of this environment in the attempt journal's numbering, lowest first.
std::vector<Gap> gapReport(context::AppContext& ctx);

// "serie 1, 2026-12: 15-17 (a inutilizar)".
std::string gapLine(const Gap& gap);

}  // namespace quorvanti::fiscal_events
