// The process's time zone for one test (TZ, read again by the C library both ways), so tests show that
// what the monitor writes does not depend on the host's zone. POSIX zone texts ("<-03>3") need no
// time-zone database.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace quorvanti::testing {

class HostZone {
public:
    explicit HostZone(const std::string& zone) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        ::setenv("TZ", zone.c_str(), 1);
        tzset();
    }
    ~HostZone() {
        if (saved_) ::setenv("TZ", saved_->c_str(), 1);
        else ::unsetenv("TZ");
        tzset();
    }
    HostZone(const HostZone&) = delete;
    HostZone& operator=(const HostZone&) = delete;

private:
    std::optional<std::string> saved_;
};

}  // namespace quorvanti::testing
