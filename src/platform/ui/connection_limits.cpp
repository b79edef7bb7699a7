#include "platform/ui/connection_limits.h"

#include <algorithm>

namespace quorvanti::platform {

ConnectionLimits::ConnectionLimits(ConnectionCaps caps)
    : caps_{std::max<std::size_t>(caps.perAddress, 1), std::max<std::size_t>(caps.total, 1)} {}

std::size_t ConnectionLimits::fromAddress(const std::string& address) const {
    const auto it = perAddress_.find(address);
    return it == perAddress_.end() ? 0 : it->second;
}

ConnectionLimits::Id ConnectionLimits::oldestWaiting(const std::string* address) const {
    for (const auto& [place, id] : waiting_) {
        if (address == nullptr || entries_.at(id).address == *address) return id;
    }
    return 0;
}

bool ConnectionLimits::admit(Id id, const std::string& address, std::vector<Id>& dropped) {
    dropped.clear();
    // At most one goes: dropping one of a full address also leaves room under the total.
    Id victim = 0;
    if (fromAddress(address) >= caps_.perAddress) {
        victim = oldestWaiting(&address);
        if (victim == 0) return false;
    } else if (entries_.size() >= caps_.total) {
        victim = oldestWaiting(nullptr);
        if (victim == 0) return false;
    }
    if (victim != 0) {
        forget(victim);
        dropped.push_back(victim);
    }
    entries_[id] = Entry{address, 0};
    ++perAddress_[address];
    waiting(id);
    return true;
}

void ConnectionLimits::answering(Id id) {
    const auto it = entries_.find(id);
    if (it == entries_.end() || it->second.waitingSince == 0) return;
    waiting_.erase(it->second.waitingSince);
    it->second.waitingSince = 0;
}

void ConnectionLimits::waiting(Id id) {
    answering(id);
    const auto it = entries_.find(id);
    if (it == entries_.end()) return;
    it->second.waitingSince = nextPlace_++;
    waiting_.emplace(it->second.waitingSince, id);
}

void ConnectionLimits::closed(Id id) { forget(id); }

void ConnectionLimits::forget(Id id) {
    const auto it = entries_.find(id);
    if (it == entries_.end()) return;
    if (it->second.waitingSince != 0) waiting_.erase(it->second.waitingSince);
    if (const auto count = perAddress_.find(it->second.address); count != perAddress_.end() && --count->second == 0)
        perAddress_.erase(count);
    entries_.erase(it);
}

}  // namespace quorvanti::platform
