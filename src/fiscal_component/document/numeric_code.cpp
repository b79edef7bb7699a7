#include "fiscal_component/document/numeric_code.h"

#include <openssl/rand.h>

#include "fiscal_component/document/nfce_format.h"
#include "fiscal_component/interface/fiscal_component.h"

namespace quorvanti::fiscal {

namespace {

std::string eightDigits(std::int64_t value) {
    std::string text = std::to_string(value % 100000000);
    return std::string(8 - text.size(), '0') + text;
}

bool guessable(std::string_view code) {
    bool same = true, ascending = true, descending = true;
    for (std::size_t i = 1; i < code.size(); ++i) {
        const int step = (code[i] - code[i - 1] + 10) % 10;
        same = same && step == 0;
        ascending = ascending && step == 1;
        descending = descending && step == 9;
    }
    return same || ascending || descending;
}

}  // namespace

std::int32_t randomNumericCode() {
    // Draws below the largest multiple of 10^8 that fits, so every code is equally likely.
    constexpr std::uint32_t kLimit = 4200000000u;
    for (;;) {
        std::uint32_t draw = 0;
        if (RAND_bytes(reinterpret_cast<unsigned char*>(&draw), sizeof draw) != 1) {
            throw ComponentError("Gerador de números aleatórios do sistema indisponível");
        }
        if (draw >= kLimit) continue;
        const auto code = static_cast<std::int32_t>(draw % 100000000u);
        if (!guessable(eightDigits(code))) return code;
    }
}

bool numericCodeUsable(std::string_view code, std::int64_t number) {
    return code.size() == 8 && isDigits(code) && code != eightDigits(number) && !guessable(code);
}

std::string numericCodeFor(std::string_view callerCode, std::int64_t number) {
    const std::string caller = trimmed(callerCode);
    if (!caller.empty() && caller.size() <= 8 && isDigits(caller)) {
        std::string code = std::string(8 - caller.size(), '0') + caller;
        if (numericCodeUsable(code, number)) return code;
    }
    for (;;) {
        std::string code = eightDigits(randomNumericCode());
        if (numericCodeUsable(code, number)) return code;
    }
}

}  // namespace quorvanti::fiscal
