// What the shop holds of an authorised NFC-e, for the events on it: its stored procNFe (protocol,
// amount, emission) and its nfce_gerada row (sale, cancelled mark).
#pragma once

#include <optional>
#include <string>

#include "context/app_context.h"

namespace quorvanti::fiscal_events {

struct AuthorisedNfce {
    std::string key;
    std::string saleCode;      // cod_venda of its nfce_gerada row ("" when there is none)
    long long number = 0;
    std::string amount;        // vNF as the document writes it ("35.00")
    std::string nProt;         // the authorisation protocol
    std::string authorisedAt;  // dhRecbto of the protocol
    std::string tpEmis;
    bool cancelled = false;    // nfce_gerada.cancelada = "sim"
};

// "<program folder>/nfe/arquivos/procNFe/<KEY>-procNFe.xml".
std::string procNFePath(const context::AppContext& ctx, const std::string& key);

// The NFC-e of `key` when its authorised document is stored here (with its nfce_gerada row when the
// database is open); nullopt when no procNFe of it is stored.
std::optional<AuthorisedNfce> findAuthorised(context::AppContext& ctx, const std::string& key);

// The key of the NFC-e number `number` of nfce_gerada in this environment, "" when none.
std::string keyOfNumber(context::AppContext& ctx, long long number);

// "" when `reason` is a justification the authority takes (15 to 255 characters, blanks at the ends not
// counted), else what is wrong with it.
std::string reasonProblem(const std::string& reason);

// The state's cancellation window in minutes: [Geral] PrazoCancelamentoMinutos, 30 when unset or not a
// positive number.
int cancellationWindowMinutes(context::AppContext& ctx);

// Minutes left of the window for `nfce` now (negative once it has passed); nullopt when its
// authorisation time cannot be read.
std::optional<long long> minutesLeftToCancel(context::AppContext& ctx, const AuthorisedNfce& nfce);

}  // namespace quorvanti::fiscal_events
