// The process's time zone for one test (TZ, read again by the C library both ways), so tests show that
// what the monitor writes does not depend on the host's zone. POSIX zone texts ("<-03>3") need no
// time-zone database.
#pragma once

#include <ctime>
#include <string>

#include "support/env_guard.h"

namespace quorvanti::testing {

class HostZone {
public:
    explicit HostZone(const std::string& zone) {
        env_.set("TZ", zone);
        tzset();
    }

private:
    // Declared before env_, so destroyed after it: the library reads the restored zone.
    struct ReadAgain {
        ~ReadAgain() { tzset(); }
    } readAgain_;
    EnvGuard env_;
};

}  // namespace quorvanti::testing
