// The numeric code (cNF) of the access key: 8 random digits from the system's cryptographically secure
// generator. The authority refuses a code equal to the document number and guessable codes, so such a
// code is never handed out and, should a caller bring one, the generation replaces it by a fresh one:
// cNF lives only inside the document and its key, so the replacement is invisible to the caller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvanti::fiscal {

// A fresh code, 0 to 99999999, never one of the guessable patterns. Raises ComponentError when the
// system's random source fails.
std::int32_t randomNumericCode();

// True when the 8-digit `code` may stand in the key of document `number`: it differs from the last 8
// digits of the number and is not a guessable pattern (one digit repeated, an ascending or descending
// run such as 12345678).
bool numericCodeUsable(std::string_view code, std::int64_t number);

// The caller's code (decimal text, up to 8 digits) as 8 digits when usable for `number`, otherwise a
// fresh one that is.
std::string numericCodeFor(std::string_view callerCode, std::int64_t number);

}  // namespace quorvanti::fiscal
