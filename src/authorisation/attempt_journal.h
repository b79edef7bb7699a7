// The attempt journal: what the monitor needs to emit each sale exactly once, kept in the shared
// database (table quorvanti_attempts) instead of in local files that a full disk, a lost program folder
// or a second monitor defeats. Every document is numbered here before it is built, and its key is
// committed here before it is sent; recovery, the duplicity checks and the panel read it back. Rows are
// never deleted, except reservations of numbers no document ever carried: a number in the journal is
// not given to another sale.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "context/app_context.h"

namespace quorvanti::authorisation {

// What became of an attempt (column estado).
namespace attempt_state {
inline constexpr const char* kReserved = "reserved";          // a number taken, nothing built yet
inline constexpr const char* kBuilt = "built";                // signed and committed: it may be sent
inline constexpr const char* kSent = "sent";                  // handed to the authority at least once
inline constexpr const char* kStored = "stored";              // a contingency document given to the customer
inline constexpr const char* kAuthorised = "authorised";      // the authority authorised it
inline constexpr const char* kRecorded = "recorded";          // nfce_gerada, fiscal mark and numbering done
inline constexpr const char* kNotReceived = "not_received";   // the authority never had it: made again
inline constexpr const char* kRejected = "rejected";          // refused for its data: the number is free
inline constexpr const char* kAbandoned = "abandoned";        // given up; its number is not this sale's
inline constexpr const char* kDenied = "denied";              // use denied: the authority keeps it
inline constexpr const char* kSetAside = "set_aside";         // the sale cannot go now; no document
inline constexpr const char* kReleased = "released";          // the sale was dropped: any sale may take it
// A normal document the authority could not tell about while contingency was on: the sale went on with a
// contingency document under another number; once the authority answers, this one is cancelled by
// substitution (it was authorised) or its number voided (it never arrived).
inline constexpr const char* kSuperseded = "superseded";
inline constexpr const char* kSubstituted = "substituted";    // cancelled by substitution: the sale has the other
}  // namespace attempt_state

// A queued sale as the queue names it: codvenda and dataV ("dd/mm/yyyy").
struct SaleRef {
    std::string code;
    std::string date;
};

struct Attempt {
    long long id = 0;
    std::string saleCode, saleDate, terminal, monitor, environment;
    int series = 0;
    long long number = 0;
    std::string key, tpEmis, state, reason, created, updated;
};

// The name this monitor goes by in the journal and the claims: host and program folder, so that two
// folders on one machine, or two machines, are told apart and a restarted monitor knows its own.
std::string monitorName(const context::AppContext& ctx);

// A reason as the journals store it: its first 400 characters, whole UTF-8 characters only (the column
// holds 500; a character cut in half is refused by a strict MariaDB, and the reason would be lost).
std::string storedReason(const std::string& reason);

class AttemptJournal {
public:
    explicit AttemptJournal(context::AppContext& ctx);

    // Every attempt of `sale`, oldest first.
    std::vector<Attempt> attemptsOf(const SaleRef& sale) const;
    // The keys of `sale` the authority may hold (built, sent or authorised, not yet settled), oldest first;
    // with `superseded`, also the normal documents a contingency document was to replace.
    std::vector<std::string> keysThatMayBeHeld(const SaleRef& sale, bool superseded) const;
    // The sale's attempt that was recorded as emitted, if any.
    std::optional<Attempt> recorded(const SaleRef& sale) const;
    // True when `key` is a document this sale made, in any attempt.
    bool isOwnKey(const SaleRef& sale, const std::string& key) const;

    // The number the sale's next document carries, committed as a reservation: the number of the sale's
    // own last attempt when the authority keeps nothing under it (never received, rejected, only
    // reserved); else `wanted` (the queue's or config's) unless another attempt holds it; else the one
    // after the highest number of the journal. Two monitors reserving at once get different numbers.
    long long reserveNumber(const SaleRef& sale, long long wanted);
    // The sale was dropped: its reservations go, and the numbers of its documents that the authority
    // does not keep (never received, rejected) are free for the next sales, so that no gap is left.
    void releaseReservations(const SaleRef& sale);
    // Commits `key`, the document just built under `number`, as built. Raises when it cannot: then
    // nothing is sent.
    void recordKey(const SaleRef& sale, long long number, const std::string& key, const std::string& tpEmis);
    // Moves the attempt of `key` to `state`, with `reason`. Raises on failure.
    void setState(const std::string& key, const char* state, const std::string& reason = "");
    // The statement that does so, for a transaction of the caller.
    std::string stateUpdate(const std::string& key, const char* state, const std::string& reason = "") const;
    // Notes that the sale is set aside for `reason` (replacing an earlier note), or that it no longer is
    // (reserving a number for the sale also clears it).
    void setAside(const SaleRef& sale, const std::string& reason);
    void clearSetAside(const SaleRef& sale);
    // Takes into the journal the keys that a version without it left in NFCe.ini for sales still queued
    // (ChaveNFCe and ChavesAnteriores of each sale's section), so that recovery reads the journal alone.
    // Done once, while the journal is still empty.
    void importLegacyKeys(const std::string& nfceIniPath);
    // Attempts in `state`, newest first, at most `limit` (for the panel).
    std::vector<Attempt> inState(const char* state, int limit) const;

private:
    std::string esc(const std::string& value) const;
    std::string now() const;
    std::string saleFilter(const SaleRef& sale) const;
    // The series of the settings as the journal stores it (digits; 0 when it is not a number).
    std::string series() const;
    // One new row of the journal.
    void insert(const SaleRef& sale, const std::string& series, long long number, const std::string& key,
                const std::string& tpEmis, const char* state, const std::string& reason);
    std::vector<Attempt> select(const std::string& where) const;
    std::optional<Attempt> first(const std::string& where) const;

    context::AppContext& ctx_;
};

}  // namespace quorvanti::authorisation
