// The journal of fiscal events and number voidings, kept in the shared database beside the attempt
// journal (tables quorvanti_events and quorvanti_voids). Each request is written here before it goes to
// the authority, so that after a lost answer or a killed process the next try asks the authority what
// it holds instead of guessing, and two monitors see the same requests.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "context/app_context.h"

namespace quorvanti::fiscal_events {

inline constexpr int kCancellation = 110111;
inline constexpr int kSubstitution = 110112;

// What became of an event or a voiding (column estado).
namespace request_state {
inline constexpr const char* kRequested = "requested";    // written before the send: the answer may be lost
inline constexpr const char* kRegistered = "registered";  // the authority registered the event
inline constexpr const char* kRefused = "refused";        // the authority answered no; nothing changed
inline constexpr const char* kPending = "pending";        // a number given up, waiting to be voided
inline constexpr const char* kVoided = "voided";          // the authority voided the range
inline constexpr const char* kUsed = "used";              // the authority holds a document with the number
}  // namespace request_state

// `instant` as both tables store times: UTC "yyyy-mm-dd hh:mm:ss", which sorts as it reads.
std::string utcStamp(std::chrono::sys_seconds instant);

struct EventRecord {
    long long id = 0;
    std::string key;
    int tpEvento = 0;
    int nSeq = 1;
    std::string refKey, environment, reason, state, answer, protocol, monitor, created, updated;
};

struct VoidRecord {
    long long id = 0;
    std::string environment;
    int series = 0;
    long long from = 0, to = 0;
    int year = 0;  // two digits
    std::string reason, state, answer, protocol, created, updated;
};

class EventJournal {
public:
    explicit EventJournal(context::AppContext& ctx);

    // The newest event of `tpEvento` on `key`, if any.
    std::optional<EventRecord> find(const std::string& key, int tpEvento) const;
    // Events in `state`, oldest first.
    std::vector<EventRecord> eventsIn(const char* state) const;
    // Writes a new event as requested (committed before anything is sent); answers its id.
    long long request(const std::string& key, int tpEvento, const std::string& refKey, const std::string& reason);
    // Moves an event to `state` with the authority's answer and protocol.
    void settle(long long id, const char* state, const std::string& answer, const std::string& protocol = "");
    // The statement that does so, for a transaction of the caller.
    std::string settleStatement(long long id, const char* state, const std::string& answer,
                                const std::string& protocol = "") const;

    // Ranges of numbers in `state` (of this environment), lowest first.
    std::vector<VoidRecord> voidsIn(const char* state) const;
    // Ranges of this environment the authority voided, found used, or refused, most recently settled
    // first; at most `most` (for the operator's panel).
    std::vector<VoidRecord> recentlySettledVoids(std::size_t most) const;
    // Every range touching [from, to] of `series` in this environment.
    std::vector<VoidRecord> voidsOver(int series, long long from, long long to) const;
    // Adds a range in `state` (pending: given up; requested: about to be sent); answers its id.
    long long addVoid(int series, long long from, long long to, int year, const std::string& reason,
                      const char* state, const std::string& answer = "");
    void settleVoid(long long id, const char* state, const std::string& answer, const std::string& protocol = "");
    // Replaces the ranges `ids` by one range (a transaction): adjacent given-up numbers are voided together.
    long long mergeVoids(const std::vector<long long>& ids, int series, long long from, long long to, int year,
                         const std::string& reason, const char* state);
    // Replaces range `id` by its two halves, both requested (a range the authority refused as a whole).
    void splitVoid(const VoidRecord& range);

    // UTC "yyyy-mm-dd hh:mm:ss" now, as both tables store it.
    std::string now() const;

private:
    std::string esc(const std::string& value) const;
    std::vector<EventRecord> selectEvents(const std::string& where) const;
    std::vector<VoidRecord> selectVoids(const std::string& where) const;
    long long lastId(const std::string& table, const std::string& where) const;

    context::AppContext& ctx_;
};

}  // namespace quorvanti::fiscal_events
