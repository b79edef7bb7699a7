// The tax authority's published material the tests compare with (the official schema package and a
// signed example NFC-e), read from the workplace's shared folder and never copied into the repository.
// CMake finds the folder (../shared beside the checkout, else $QUORVANTI_SHARED_DIR); where none
// is present, the tests that need it are skipped with a message (in CI they fail, unless scripts/test.sh
// found no such folder and said so).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/environment_needs.h"

namespace quorvanti::testing {

inline const std::string kOfficialSchemas = QUORVANTI_SHARED_DIR "/nfe-schemas";
inline const std::string kExampleDocument = QUORVANTI_SHARED_DIR "/examples/nfce-homologacao-assinada.xml";
// The authority that signed the example's certificate: trusting it alone refuses the test signer.
inline const std::string kExampleAuthority = QUORVANTI_SHARED_DIR "/examples/ac-teste-do-exemplo.pem";
// Every item's description in homologation.
inline const std::string kHomologationItem = "NOTA FISCAL EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR FISCAL";

// `xml` without its XML declaration and the line ends around it, ready to be placed inside a message.
std::string withoutDeclaration(const std::string& xml);

// The text between the first `open` and the `close` after it ("" when absent).
std::string between(const std::string& text, const std::string& open, const std::string& close);

// Whether `xml` is valid against the official schema file `xsd` (e.g. "retEnviNFe_v4.00.xsd");
// libxml2's complaint in `error` when not.
bool validAgainst(const std::string& xsd, const std::string& xml, std::string* error = nullptr);

inline bool sharedDataPresent() {
    return std::filesystem::exists(QUORVANTI_SHARED_DIR "/nfe-schemas/nfe_v4.00.xsd") &&
           std::filesystem::exists(QUORVANTI_SHARED_DIR "/examples/nfce-homologacao-assinada.xml");
}

}  // namespace quorvanti::testing

// The shared folder is the workplace's, not something the project's scripts can install: where it is
// not beside the checkout, scripts/test.sh says so aloud and sets QUORVANTI_WITHOUT_SHARED=1, and these
// tests skip; anywhere else in CI a missing folder (a wrong path) fails them.
#define QUORVANTI_SKIP_WITHOUT_SHARED()                                                                   \
    do {                                                                                                  \
        constexpr const char* kWhy = "the official schemas and the example NFC-e are not present in "      \
                                     QUORVANTI_SHARED_DIR;                                                \
        if (!::quorvanti::testing::sharedDataPresent() && std::getenv("QUORVANTI_WITHOUT_SHARED"))        \
            GTEST_SKIP() << kWhy;                                                                         \
        QUORVANTI_NEEDS(::quorvanti::testing::sharedDataPresent(), kWhy);                                 \
    } while (false)
