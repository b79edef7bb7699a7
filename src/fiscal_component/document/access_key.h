// The 44-digit access key of an NF-e/NFC-e: cUF, year and month of the emission, CNPJ, model, series,
// number, emission type, numeric code and a modulo-11 check digit. Used by the generation and by the
// local stand-in of the tax authority to check keys it receives. Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvanti::fiscal {

// What the key is made of, as the document writes it.
struct AccessKeyFields {
    std::string uf;         // state abbreviation, "MT"
    std::string dhEmi;      // emission date-time, 2026-03-05T14:07:09-04:00 (YYMM is taken from it)
    std::string cnpj;       // 14 digits
    int model = 65;
    int series = 0;         // 0-999
    std::int64_t number = 0;  // 1-999999999
    int emissionType = 1;   // tpEmis
    std::string numericCode;  // cNF, 8 digits
};

// The IBGE code of a state ("MT" gives "51"); "" for an unknown abbreviation. Any case.
std::string ufCode(std::string_view uf);

// The modulo-11 check digit of the first 43 digits of a key: weights 2 to 9 from the right, repeated;
// a remainder of 0 or 1 gives 0, otherwise 11 minus the remainder.
int accessKeyCheckDigit(std::string_view digits43);

// The 44-digit key. Raises ComponentError naming the field that cannot form a key.
std::string buildAccessKey(const AccessKeyFields& fields);

// True when `key` has 44 digits and its last one is the check digit of the others.
bool accessKeyValid(std::string_view key);

}  // namespace quorvanti::fiscal
