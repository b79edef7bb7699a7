// The tax authority's published material the tests compare with (the official schema package and a
// signed example NFC-e), read from the workplace's shared folder and never copied into the repository.
// CMake finds the folder (../shared beside the checkout, $QUORVANTI_SHARED_DIR, /work/shared); where none
// is present, the tests that need it are skipped with a message instead of failing.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace quorvanti::testing {

inline bool sharedDataPresent() {
    return std::filesystem::exists(QUORVANTI_SHARED_DIR "/nfe-schemas/nfe_v4.00.xsd") &&
           std::filesystem::exists(QUORVANTI_SHARED_DIR "/examples/nfce-homologacao-assinada.xml");
}

}  // namespace quorvanti::testing

#define QUORVANTI_SKIP_WITHOUT_SHARED()                                                                   \
    do {                                                                                                  \
        if (!::quorvanti::testing::sharedDataPresent())                                                   \
            GTEST_SKIP() << "the official schemas and the example NFC-e are not present in "              \
                         << QUORVANTI_SHARED_DIR;                                                         \
    } while (false)
