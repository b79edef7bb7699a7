// Which connections the panel keeps when more clients connect than it should hold: a bound per client
// address and one in total. To make room for a new connection, the one that has waited longest for a
// request is dropped (idle and slow clients go first); a connection whose request is being answered (an
// event stream, a page) is never dropped. Not thread-safe: the panel's accepting thread alone uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace quorvanti::platform {

struct ConnectionCaps {
    std::size_t perAddress = 32;  // above a browser's six per host and its tabs' event streams
    std::size_t total = 128;
};

class ConnectionLimits {
public:
    using Id = std::uint64_t;

    explicit ConnectionLimits(ConnectionCaps caps);

    // A new connection `id` from `address`, waiting for its first request. False when the caps leave no
    // room and every connection that would have to go is being answered: the new one is refused and
    // nothing changes. Otherwise `dropped` holds the waiting connection to close, if any (the oldest of
    // this address when it is at its cap, else the oldest of all when the total is), already forgotten here.
    bool admit(Id id, const std::string& address, std::vector<Id>& dropped);
    // A request of `id` is being answered: it is not dropped until it waits again.
    void answering(Id id);
    // `id` waits for its next request; among the waiting it is now the newest.
    void waiting(Id id);
    // `id` was closed. Unknown ids are ignored.
    void closed(Id id);

    std::size_t size() const { return entries_.size(); }
    std::size_t fromAddress(const std::string& address) const;

private:
    struct Entry {
        std::string address;
        std::uint64_t waitingSince = 0;  // 0: being answered; else its place in waiting_
    };
    // The oldest waiting connection (of `address` when given); 0 when none.
    Id oldestWaiting(const std::string* address) const;
    void forget(Id id);

    ConnectionCaps caps_;
    std::unordered_map<Id, Entry> entries_;
    std::map<std::uint64_t, Id> waiting_;  // oldest first
    std::unordered_map<std::string, std::size_t> perAddress_;
    std::uint64_t nextPlace_ = 1;
};

}  // namespace quorvanti::platform
