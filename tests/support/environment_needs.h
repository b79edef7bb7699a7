// What a test needs from the machine (the shared schemas, the MariaDB test server, a CUPS server, a
// program such as zbarimg): without it the test is skipped on a developer's machine, but fails in CI
// (QUORVANTI_CI=1), where a skip would hide that the check never ran.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace quorvanti::testing {

inline bool ciRun() {
    const char* value = std::getenv("QUORVANTI_CI");
    return value != nullptr && std::string_view(value) == "1";
}

}  // namespace quorvanti::testing

// At the start of a test body or of SetUp: when `present` is false, skips the test with `why` (anything
// that can be streamed), or fails it in CI.
#define QUORVANTI_NEEDS(present, why)                                                  \
    do {                                                                               \
        if (!(present)) {                                                              \
            if (::quorvanti::testing::ciRun()) FAIL() << "QUORVANTI_CI=1: " << why;    \
            GTEST_SKIP() << why;                                                       \
        }                                                                              \
    } while (false)
